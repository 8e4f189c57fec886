#pragma once
// The telephony line functions, bound at run time. The functions live in our
// small telephony library (libvelmoortapi.so), which drives AT modems on
// serial ports; it is loaded on the first call of any function and each
// function is looked up by name on its own first call. A missing library or
// function answers LINEERR_OPERATIONUNAVAIL then and on every later call, so a
// machine without the library still runs the direct (cable) lines.
//
// The library's records, codes and dialogs are its own (telephony/line_api.h);
// they are seen here under trennick::tapi as well.
//
// Safe from any thread: the binding is resolved under a lock.

#include "platform/types.h"
#include "telephony/line_api.h"

#include <cstdint>
#include <string>

namespace trennick::tapi {

using namespace ::telephony;

// The bound functions. Each returns LINEERR_OPERATIONUNAVAIL when the library
// or the function is missing. The asynchronous ones (lineAnswer, lineDrop,
// lineMakeCall, lineDial) return a request id > 0, answered by LINE_REPLY.
LONG lineAnswer(HCALL call, const char* userInfo, DWORD size);
LONG lineClose(HLINE line);
LONG lineConfigDialogEdit(DWORD deviceId, void* owner, const char* deviceClass, const void* configIn, DWORD sizeIn,
                          VarString* configOut);
LONG lineDeallocateCall(HCALL call);
LONG lineDial(HCALL call, const char* address, DWORD countryCode);
LONG lineDrop(HCALL call, const char* userInfo, DWORD size);
LONG lineGetAddressCaps(HLINEAPP app, DWORD deviceId, DWORD addressId, DWORD apiVersion, DWORD extVersion,
                        LineAddressCaps* caps);
LONG lineGetAddressStatus(HLINE line, DWORD addressId, LineAddressStatus* status);
LONG lineGetCallInfo(HCALL call, LineCallInfo* info);
LONG lineGetCallStatus(HCALL call, LineCallStatus* status);
LONG lineGetDevCaps(HLINEAPP app, DWORD deviceId, DWORD apiVersion, DWORD extVersion, LineDevCaps* caps);
LONG lineGetDevConfig(DWORD deviceId, VarString* config, const char* deviceClass);
LONG lineGetID(HLINE line, DWORD addressId, HCALL call, DWORD select, VarString* id, const char* deviceClass);
LONG lineInitialize(HLINEAPP* app, void* instance, LINECALLBACK callback, const char* appName, DWORD* numDevs);
LONG lineMakeCall(HLINE line, HCALL* call, const char* address, DWORD countryCode, const void* callParams);
LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD deviceId, DWORD apiLow, DWORD apiHigh, DWORD* apiVersion,
                             void* extensionId);
LONG lineOpen(HLINEAPP app, DWORD deviceId, HLINE* line, DWORD apiVersion, DWORD extVersion,
              std::uintptr_t callbackInstance, DWORD privileges, DWORD mediaModes, const void* callParams);
LONG lineSetDevConfig(DWORD deviceId, const void* config, DWORD size, const char* deviceClass);
LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD addressStates);
LONG lineShutdown(HLINEAPP app);
LONG lineTranslateAddress(HLINEAPP app, DWORD deviceId, DWORD apiVersion, const char* addressIn, DWORD card,
                          DWORD flags, VarString* out);
LONG lineTranslateDialog(HLINEAPP app, DWORD deviceId, DWORD apiVersion, void* owner, const char* addressIn);
// Hands the library the caller's dialogs (it keeps a copy); null takes them
// back. Without them the two dialog functions answer LINEERR_OPERATIONUNAVAIL.
LONG SetLineDialogs(const LineDialogs* dialogs);

// The library's name as the loader is asked for it ("velmoortapi", that is
// libvelmoortapi.so). Tests point it elsewhere before the first call; a change
// after the first call also forgets what was bound.
void setLibraryName(const std::string& name);
// True when the library was found (loads it when not tried yet).
bool libraryPresent();

}  // namespace trennick::tapi
