#include "ambrelapi/ambrel.h"

#include "common/lumo_deb.h"
#include "platform/com/guarded.h"

#include <cerrno>
#include <cstdio>

namespace {

// Binds the library and takes its object; null with the reason in `error`.
IAmbrelDll* bindLibrary(const char* fileName, HMODULE& module, char (&error)[128]) {
    std::snprintf(error, sizeof error, "No errors");
    platform::LibraryError why;
    module = platform::loadLibrary(fileName, &why);
    if (module == nullptr) {
        std::snprintf(error, sizeof error, "LoadLibrary failed (%d)", int(why.code));
        return nullptr;
    }
    auto get = reinterpret_cast<AmbrelGetApiFn>(platform::librarySymbol(module, "DLLGetAPI"));
    if (get == nullptr) {
        std::snprintf(error, sizeof error, "Can't locate exported function \"%s\"", "DLLGetAPI");
        return nullptr;
    }
    IAmbrelDll* api = get();
    if (api == nullptr) {
        std::snprintf(error, sizeof error, "DLL call to get API failed. SysErr=%d", errno);
    }
    return api;
}

}  // namespace

CAmbrel::CAmbrel() {
    char error[128];
    m_api = bindLibrary("ambrel32.dll", m_module, error);
    if (m_api == nullptr) {
        std::fprintf(stderr, "%s\n", error);
    }
}

CAmbrel::~CAmbrel() {
    if (m_api != nullptr) {
        m_api->Release();
    }
    platform::freeLibrary(m_module);
}

template <class Call>
HRESULT CAmbrel::forward(Call call) {
    if (m_api == nullptr) {
        return S_FALSE;
    }
    return platform::com::guarded("CAmbrel", [&] {
        call(*m_api);
        return S_OK;
    });
}

HRESULT CAmbrel::InterfaceSupportsErrorInfo(REFIID riid) { return riid == IID_IAmbrel ? S_OK : S_FALSE; }

// A 16-bit library value widened into the caller's long (zero-extended).
#define AMBREL_GET16(member, slot)                                  \
    HRESULT CAmbrel::member(LONG* pVal) {                            \
        if (pVal == nullptr) return E_POINTER;                       \
        return forward([&](IAmbrelDll& api) {                        \
            WORD cell = 0;                                           \
            api.slot(&cell);                                         \
            *pVal = LONG(cell);                                      \
        });                                                          \
    }
// The slot's own result into the out-parameter.
#define AMBREL_RESULT(member, slot)                                          \
    HRESULT CAmbrel::member(LONG* out) {                                     \
        if (out == nullptr) return E_POINTER;                                \
        return forward([&](IAmbrelDll& api) { *out = api.slot(); });         \
    }
#define AMBREL_PUT(member, call) \
    HRESULT CAmbrel::member(LONG newVal) { return forward([&](IAmbrelDll& api) { call; }); }

AMBREL_RESULT(get_Version, GetVersion)
AMBREL_RESULT(get_VAD, GetVAD)
AMBREL_PUT(put_VAD, api.PutVAD(newVal, 0))
AMBREL_RESULT(get_AEC, GetAEC)
AMBREL_PUT(put_AEC, api.PutAEC(newVal, 0))
AMBREL_GET16(get_RecordVolume, GetRecordVolume)
AMBREL_PUT(put_RecordVolume, api.PutRecordVolume(newVal))
AMBREL_GET16(get_PlaybackVolume, GetPlaybackVolume)
AMBREL_PUT(put_PlaybackVolume, api.PutPlaybackVolume(newVal))
AMBREL_GET16(get_RecordSignalLevel, GetRecordSignalLevel)
AMBREL_RESULT(RecordClose, RecordClose)
AMBREL_RESULT(RecordStop, RecordStop)
AMBREL_RESULT(RecordStart, RecordStart)
AMBREL_RESULT(RecordReset, RecordReset)
AMBREL_RESULT(PlaybackOpen, PlaybackOpen)
AMBREL_RESULT(PlaybackClose, PlaybackClose)
AMBREL_RESULT(PlaybackReset, PlaybackReset)
AMBREL_RESULT(DetectHardware, DetectHardware)
AMBREL_RESULT(RefreshHardwareTree, RefreshHardwareTree)
AMBREL_GET16(get_MixerInputsBits, GetMixerInputsBits)
AMBREL_PUT(put_MixerInputsBits, api.PutMixerInputsBits(newVal))
AMBREL_GET16(get_RemoteSpeaker, GetRemoteSpeaker)
AMBREL_PUT(put_RemoteSpeaker, api.PutRemoteSpeaker(newVal))
AMBREL_GET16(get_AutoGain, GetAutoGain)
AMBREL_PUT(put_AutoGain, api.PutAutoGain(newVal & 0xFFFF))
AMBREL_PUT(RecordSetDeviceID, api.RecordSetDeviceID(newVal))
AMBREL_PUT(PlayBackSetDeviceID, api.PlayBackSetDeviceID(newVal))

HRESULT CAmbrel::get_RecordFormat(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll&) { *pVal = m_recordFormat; });
}

HRESULT CAmbrel::put_RecordFormat(LONG newVal) {
    return forward([&](IAmbrelDll& api) {
        api.PutRecordFormat(newVal);
        m_recordFormat = newVal;
    });
}

HRESULT CAmbrel::RecordOpen(LONG fmt, LONG* fSuccess) {
    if (fSuccess == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) {
        *fSuccess = api.RecordOpen(fmt);
        m_recordFormat = fmt;
    });
}

// The "IsFull" slots answer 1; the caller receives the negation.
HRESULT CAmbrel::get_RecordIsFull(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) { *pVal = api.GetRecordIsFull() == 0 ? 1 : 0; });
}

HRESULT CAmbrel::get_PlaybackIsFull(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) { *pVal = api.GetPlaybackIsFull() == 0 ? 1 : 0; });
}

HRESULT CAmbrel::RecordGetFrame(BSTR* lpData, LONG dwBufferLength, LONG* dwBytesRecorded, LONG* fSuccess) {
    if (lpData == nullptr || dwBytesRecorded == nullptr || fSuccess == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) {
        AmbrelFrame frame{};
        frame.lpData = reinterpret_cast<BYTE*>(*lpData);
        frame.dwBufferLength = dwBufferLength > 0 && *lpData != nullptr ? DWORD(dwBufferLength) : 0;
        *fSuccess = api.RecordGetFrame(&frame);
        *dwBytesRecorded = LONG(frame.dwBytesRecorded);
    });
}

HRESULT CAmbrel::PlaybackPutFrame(BYTE* lpData, LONG dwBufferLength, LONG* fSuccess) {
    if (fSuccess == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) {
        LUMO_TRACE(5, "CAmbrel::PlaybackPutFrame() Length=%ld \n", long(dwBufferLength));
        AmbrelFrame frame{};
        frame.lpData = lpData;
        frame.dwBufferLength = dwBufferLength > 0 && lpData != nullptr ? DWORD(dwBufferLength) : 0;
        *fSuccess = api.PlaybackPutFrame(&frame);
    });
}

HRESULT CAmbrel::PopupConfigDialog() {
    return forward([&](IAmbrelDll& api) { api.PopupConfigDialog(); });
}

HRESULT CAmbrel::Serialize() {
    return forward([&](IAmbrelDll& api) { api.Serialize(); });
}

HRESULT CAmbrel::get_MixerInput(LONG iChannel, LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) {
        WORD cell = 0;
        api.GetMixerInput(iChannel, &cell);
        *pVal = LONG(cell);
    });
}

HRESULT CAmbrel::put_MixerInput(LONG iChannel, LONG newVal) {
    return forward([&](IAmbrelDll& api) { api.PutMixerInput(iChannel, newVal); });
}

// The library supplies no value for the cell: the caller receives 0.
HRESULT CAmbrel::get_Memory(SHORT Address, SHORT* pVal) {
    if (pVal == nullptr) return E_POINTER;
    return forward([&](IAmbrelDll& api) {
        WORD cell = 0;
        api.GetMemory(&cell, Address);
        *pVal = SHORT(cell);
    });
}

HRESULT CAmbrel::put_Memory(SHORT Address, SHORT newVal) {
    return forward([&](IAmbrelDll& api) { api.PutMemory(newVal, Address); });
}

HRESULT CAmbrel::put_Filename(BSTR newVal) {
    return forward([&](IAmbrelDll& api) { api.PutFilename(newVal); });
}

std::span<const platform::com::DispatchMember<CAmbrel>> CAmbrel::dispatchMembers() {
    using platform::com::dispatchMethod;
    constexpr WORD get = DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    constexpr WORD put = DISPATCH_PROPERTYPUT;
    static const platform::com::DispatchMember<CAmbrel> table[] = {
        {"Version", 1, &dispatchMethod<&CAmbrel::get_Version>, get},
        {"VAD", 2, &dispatchMethod<&CAmbrel::get_VAD>, get},
        {"VAD", 2, &dispatchMethod<&CAmbrel::put_VAD>, put},
        {"AEC", 3, &dispatchMethod<&CAmbrel::get_AEC>, get},
        {"AEC", 3, &dispatchMethod<&CAmbrel::put_AEC>, put},
        {"RecordFormat", 4, &dispatchMethod<&CAmbrel::get_RecordFormat>, get},
        {"RecordFormat", 4, &dispatchMethod<&CAmbrel::put_RecordFormat>, put},
        {"RecordVolume", 5, &dispatchMethod<&CAmbrel::get_RecordVolume>, get},
        {"RecordVolume", 5, &dispatchMethod<&CAmbrel::put_RecordVolume>, put},
        {"PlaybackVolume", 6, &dispatchMethod<&CAmbrel::get_PlaybackVolume>, get},
        {"PlaybackVolume", 6, &dispatchMethod<&CAmbrel::put_PlaybackVolume>, put},
        {"RecordSignalLevel", 7, &dispatchMethod<&CAmbrel::get_RecordSignalLevel>, get},
        {"RecordOpen", 8, &dispatchMethod<&CAmbrel::RecordOpen>},
        {"RecordClose", 9, &dispatchMethod<&CAmbrel::RecordClose>},
        {"RecordStop", 10, &dispatchMethod<&CAmbrel::RecordStop>},
        {"RecordStart", 11, &dispatchMethod<&CAmbrel::RecordStart>},
        {"RecordReset", 12, &dispatchMethod<&CAmbrel::RecordReset>},
        {"RecordIsFull", 13, &dispatchMethod<&CAmbrel::get_RecordIsFull>, get},
        {"PlaybackOpen", 15, &dispatchMethod<&CAmbrel::PlaybackOpen>},
        {"PlaybackClose", 16, &dispatchMethod<&CAmbrel::PlaybackClose>},
        {"PlaybackReset", 17, &dispatchMethod<&CAmbrel::PlaybackReset>},
        {"PlaybackIsFull", 19, &dispatchMethod<&CAmbrel::get_PlaybackIsFull>, get},
        {"PopupConfigDialog", 20, &dispatchMethod<&CAmbrel::PopupConfigDialog>},
        {"Serialize", 21, &dispatchMethod<&CAmbrel::Serialize>},
        {"DetectHardware", 22, &dispatchMethod<&CAmbrel::DetectHardware>},
        {"MixerInputsBits", 23, &dispatchMethod<&CAmbrel::get_MixerInputsBits>, get},
        {"MixerInputsBits", 23, &dispatchMethod<&CAmbrel::put_MixerInputsBits>, put},
        {"MixerInput", 24, &dispatchMethod<&CAmbrel::get_MixerInput>, get},
        {"MixerInput", 24, &dispatchMethod<&CAmbrel::put_MixerInput>, put},
        {"RemoteSpeaker", 25, &dispatchMethod<&CAmbrel::get_RemoteSpeaker>, get},
        {"RemoteSpeaker", 25, &dispatchMethod<&CAmbrel::put_RemoteSpeaker>, put},
        {"AutoGain", 26, &dispatchMethod<&CAmbrel::get_AutoGain>, get},
        {"AutoGain", 26, &dispatchMethod<&CAmbrel::put_AutoGain>, put},
        {"Memory", 27, &dispatchMethod<&CAmbrel::get_Memory>, get},
        {"Memory", 27, &dispatchMethod<&CAmbrel::put_Memory>, put},
        {"RefreshHardwareTree", 28, &dispatchMethod<&CAmbrel::RefreshHardwareTree>},
        {"Filename", 29, &dispatchMethod<&CAmbrel::put_Filename>, put},
        {"RecordSetDeviceID", 30, &dispatchMethod<&CAmbrel::RecordSetDeviceID>},
        {"PlayBackSetDeviceID", 31, &dispatchMethod<&CAmbrel::PlayBackSetDeviceID>},
    };
    return table;
}
