#include "trennick/serial/tapi_binding.h"

#include "platform/library.h"
#include "trennick/link/link_trace.h"

#include <array>
#include <mutex>

namespace trennick::tapi {

namespace {

enum Fn : int {
    fnAnswer, fnClose, fnConfigDialogEdit, fnDeallocateCall, fnDial, fnDrop, fnGetAddressCaps, fnGetAddressStatus,
    fnGetCallInfo, fnGetCallStatus, fnGetDevCaps, fnGetDevConfig, fnGetID, fnInitialize, fnMakeCall,
    fnNegotiateAPIVersion, fnOpen, fnSetDevConfig, fnSetStatusMessages, fnShutdown, fnTranslateAddress,
    fnTranslateDialog, fnSetLineDialogs, fnCount
};

constexpr const char* kNames[fnCount] = {
    "lineAnswer", "lineClose", "lineConfigDialogEdit", "lineDeallocateCall", "lineDial", "lineDrop",
    "lineGetAddressCaps", "lineGetAddressStatus", "lineGetCallInfo", "lineGetCallStatus", "lineGetDevCaps",
    "lineGetDevConfig", "lineGetID", "lineInitialize", "lineMakeCall", "lineNegotiateAPIVersion", "lineOpen",
    "lineSetDevConfig", "lineSetStatusMessages", "lineShutdown", "lineTranslateAddress", "lineTranslateDialog",
    "SetLineDialogs",
};

struct Binding {
    std::mutex mutex;
    std::string name = "velmoortapi";
    bool tried = false;
    HMODULE library = nullptr;
    std::array<bool, fnCount> looked{};
    std::array<void*, fnCount> address{};
};

Binding& binding() {
    static Binding b;
    return b;
}

// The function's address, resolving library and symbol on first use; null
// when either is missing (and then for good).
void* resolve(Fn fn) {
    Binding& b = binding();
    std::lock_guard lock(b.mutex);
    if (!b.tried) {
        b.tried = true;
        platform::LibraryError error;
        b.library = platform::loadLibrary(b.name, &error);
        if (b.library == nullptr) {
            linkTrace(3, "Telephony library %s not loaded (%u): %s", b.name.c_str(), error.code, error.text.c_str());
        }
    }
    if (b.library == nullptr) return nullptr;
    if (!b.looked[fn]) {
        b.looked[fn] = true;
        b.address[fn] = platform::librarySymbol(b.library, kNames[fn]);
    }
    return b.address[fn];
}

template <class F, class... Args>
LONG call(Fn fn, Args... args) {
    auto* f = reinterpret_cast<F*>(resolve(fn));
    if (f == nullptr) return LINEERR_OPERATIONUNAVAIL;
    return f(args...);
}

}  // namespace

void setLibraryName(const std::string& name) {
    Binding& b = binding();
    std::lock_guard lock(b.mutex);
    if (b.library) platform::freeLibrary(b.library);
    b.library = nullptr;
    b.tried = false;
    b.looked = {};
    b.address = {};
    b.name = name;
}

bool libraryPresent() {
    resolve(fnInitialize);
    Binding& b = binding();
    std::lock_guard lock(b.mutex);
    return b.library != nullptr;
}

LONG lineAnswer(HCALL call_, const char* userInfo, DWORD size) {
    return call<LONG(HCALL, const char*, DWORD)>(fnAnswer, call_, userInfo, size);
}
LONG lineClose(HLINE line) { return call<LONG(HLINE)>(fnClose, line); }
LONG lineConfigDialogEdit(DWORD deviceId, void* owner, const char* deviceClass, const void* configIn, DWORD sizeIn,
                          VarString* configOut) {
    return call<LONG(DWORD, void*, const char*, const void*, DWORD, VarString*)>(
        fnConfigDialogEdit, deviceId, owner, deviceClass, configIn, sizeIn, configOut);
}
LONG lineDeallocateCall(HCALL c) { return call<LONG(HCALL)>(fnDeallocateCall, c); }
LONG lineDial(HCALL c, const char* address, DWORD countryCode) {
    return call<LONG(HCALL, const char*, DWORD)>(fnDial, c, address, countryCode);
}
LONG lineDrop(HCALL c, const char* userInfo, DWORD size) {
    return call<LONG(HCALL, const char*, DWORD)>(fnDrop, c, userInfo, size);
}
LONG lineGetAddressCaps(HLINEAPP app, DWORD deviceId, DWORD addressId, DWORD apiVersion, DWORD extVersion,
                        LineAddressCaps* caps) {
    return call<LONG(HLINEAPP, DWORD, DWORD, DWORD, DWORD, LineAddressCaps*)>(fnGetAddressCaps, app, deviceId,
                                                                               addressId, apiVersion, extVersion, caps);
}
LONG lineGetAddressStatus(HLINE line, DWORD addressId, LineAddressStatus* status) {
    return call<LONG(HLINE, DWORD, LineAddressStatus*)>(fnGetAddressStatus, line, addressId, status);
}
LONG lineGetCallInfo(HCALL c, LineCallInfo* info) { return call<LONG(HCALL, LineCallInfo*)>(fnGetCallInfo, c, info); }
LONG lineGetCallStatus(HCALL c, LineCallStatus* status) {
    return call<LONG(HCALL, LineCallStatus*)>(fnGetCallStatus, c, status);
}
LONG lineGetDevCaps(HLINEAPP app, DWORD deviceId, DWORD apiVersion, DWORD extVersion, LineDevCaps* caps) {
    return call<LONG(HLINEAPP, DWORD, DWORD, DWORD, LineDevCaps*)>(fnGetDevCaps, app, deviceId, apiVersion, extVersion,
                                                                   caps);
}
LONG lineGetDevConfig(DWORD deviceId, VarString* config, const char* deviceClass) {
    return call<LONG(DWORD, VarString*, const char*)>(fnGetDevConfig, deviceId, config, deviceClass);
}
LONG lineGetID(HLINE line, DWORD addressId, HCALL c, DWORD select, VarString* id, const char* deviceClass) {
    return call<LONG(HLINE, DWORD, HCALL, DWORD, VarString*, const char*)>(fnGetID, line, addressId, c, select, id,
                                                                            deviceClass);
}
LONG lineInitialize(HLINEAPP* app, void* instance, LINECALLBACK callback, const char* appName, DWORD* numDevs) {
    return call<LONG(HLINEAPP*, void*, LINECALLBACK, const char*, DWORD*)>(fnInitialize, app, instance, callback,
                                                                           appName, numDevs);
}
LONG lineMakeCall(HLINE line, HCALL* c, const char* address, DWORD countryCode, const void* callParams) {
    return call<LONG(HLINE, HCALL*, const char*, DWORD, const void*)>(fnMakeCall, line, c, address, countryCode,
                                                                      callParams);
}
LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD deviceId, DWORD apiLow, DWORD apiHigh, DWORD* apiVersion,
                             void* extensionId) {
    return call<LONG(HLINEAPP, DWORD, DWORD, DWORD, DWORD*, void*)>(fnNegotiateAPIVersion, app, deviceId, apiLow,
                                                                    apiHigh, apiVersion, extensionId);
}
LONG lineOpen(HLINEAPP app, DWORD deviceId, HLINE* line, DWORD apiVersion, DWORD extVersion,
              std::uintptr_t callbackInstance, DWORD privileges, DWORD mediaModes, const void* callParams) {
    return call<LONG(HLINEAPP, DWORD, HLINE*, DWORD, DWORD, std::uintptr_t, DWORD, DWORD, const void*)>(
        fnOpen, app, deviceId, line, apiVersion, extVersion, callbackInstance, privileges, mediaModes, callParams);
}
LONG lineSetDevConfig(DWORD deviceId, const void* config, DWORD size, const char* deviceClass) {
    return call<LONG(DWORD, const void*, DWORD, const char*)>(fnSetDevConfig, deviceId, config, size, deviceClass);
}
LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates) {
    return call<LONG(HLINE, DWORD, DWORD)>(fnSetStatusMessages, line, lineStates, addressStates);
}
LONG lineShutdown(HLINEAPP app) { return call<LONG(HLINEAPP)>(fnShutdown, app); }
LONG lineTranslateAddress(HLINEAPP app, DWORD deviceId, DWORD apiVersion, const char* addressIn, DWORD card,
                          DWORD flags, VarString* out) {
    return call<LONG(HLINEAPP, DWORD, DWORD, const char*, DWORD, DWORD, VarString*)>(
        fnTranslateAddress, app, deviceId, apiVersion, addressIn, card, flags, out);
}
LONG lineTranslateDialog(HLINEAPP app, DWORD deviceId, DWORD apiVersion, void* owner, const char* addressIn) {
    return call<LONG(HLINEAPP, DWORD, DWORD, void*, const char*)>(fnTranslateDialog, app, deviceId, apiVersion, owner,
                                                                   addressIn);
}
LONG SetLineDialogs(const LineDialogs* dialogs) {
    return call<LONG(const LineDialogs*)>(fnSetLineDialogs, dialogs);
}

}  // namespace trennick::tapi
