#pragma once
// The error-info object: a server that fails a call may leave a description of
// the failure for the calling thread; the caller takes it with GetErrorInfo.
// There is one slot per thread; GetErrorInfo empties it.

#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"

inline constexpr IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct IErrorInfo : IUnknown {
    static constexpr IID iid = IID_IErrorInfo;
    using Base = IUnknown;
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

// A server object says through it which of its interfaces leave error info.
struct ISupportErrorInfo : IUnknown {
    static constexpr IID iid = IID_ISupportErrorInfo;
    using Base = IUnknown;
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// Replaces the thread's error object (null clears it). reserved must be 0.
HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info);
// Hands out the thread's error object and clears the slot; S_FALSE and null
// when there is none.
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info);

namespace platform::com {

// Builds an error object and makes it the thread's; returns hr, so a server
// writes `return reportError(hr, IID_IThing, "Thing", "the file is gone");`.
HRESULT reportError(HRESULT hr, const IID& iid, const char* source, const char* description);

}  // namespace platform::com
