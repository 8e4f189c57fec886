#include "platform/com/error_info.h"

#include "platform/com/com_object.h"

#include <string>

namespace {

thread_local IErrorInfo* t_errorInfo = nullptr;

// The error object a server leaves for its caller. Immutable after creation.
class ErrorInfo : public platform::com::ComObject<ErrorInfo, IErrorInfo> {
public:
    ErrorInfo(const GUID& guid, std::string source, std::string description)
        : m_guid(guid), m_source(std::move(source)), m_description(std::move(description)) {}

    HRESULT GetGUID(GUID* guid) override {
        if (!guid) return E_POINTER;
        *guid = m_guid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return copyText(m_source, source); }
    HRESULT GetDescription(BSTR* description) override { return copyText(m_description, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return copyText({}, helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override {
        if (!helpContext) return E_POINTER;
        *helpContext = 0;
        return S_OK;
    }

private:
    static HRESULT copyText(const std::string& text, BSTR* out) {
        if (!out) return E_POINTER;
        *out = SysAllocStringLen(text.data(), UINT(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    GUID m_guid;
    std::string m_source;
    std::string m_description;
};

}  // namespace

HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info) {
    if (reserved != 0) {
        return E_INVALIDARG;
    }
    if (info) {
        info->AddRef();
    }
    if (IErrorInfo* old = t_errorInfo) {
        old->Release();
    }
    t_errorInfo = info;
    return S_OK;
}

HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info) {
    if (!info) {
        return E_POINTER;
    }
    *info = nullptr;
    if (reserved != 0) {
        return E_INVALIDARG;
    }
    if (!t_errorInfo) {
        return S_FALSE;
    }
    *info = t_errorInfo;  // the slot's reference passes to the caller
    t_errorInfo = nullptr;
    return S_OK;
}

namespace platform::com {

HRESULT reportError(HRESULT hr, const IID& iid, const char* source, const char* description) {
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(ErrorInfo::createInstance(IErrorInfo::iid, info.putVoid(), iid, source ? source : "",
                                            description ? description : ""))) {
        SetErrorInfo(0, info.get());
    }
    return hr;
}

}  // namespace platform::com
