#include "platform/com/oleauto.h"

#include "platform/com/dispatch.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);
constexpr UINT kMaxLength = 0x7FFFFFF0u;

BSTR allocate(UINT length) {
    if (length > kMaxLength) {
        return nullptr;
    }
    auto* block = static_cast<char*>(std::malloc(kPrefix + std::size_t(length) + 1));
    if (!block) {
        return nullptr;
    }
    std::uint32_t stored = length;
    std::memcpy(block, &stored, kPrefix);
    block[kPrefix + length] = '\0';
    return block + kPrefix;
}

// The variant a by-reference variant points at, or the variant itself.
const VARIANT* resolved(const VARIANT* v) {
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) {
        return v->pvarVal;
    }
    return v;
}

// Reads a by-reference scalar into a plain variant of the same type.
bool dereference(const VARIANT* source, VARIANT& plain) {
    VARTYPE base = VARTYPE(source->vt & ~VT_BYREF);
    VariantInit(&plain);
    if (!source->byref) {
        return false;
    }
    plain.vt = base;
    switch (base) {
        case VT_I2: plain.iVal = *source->piVal; return true;
        case VT_I4: plain.lVal = *source->plVal; return true;
        case VT_I8: plain.llVal = *source->pllVal; return true;
        case VT_UI1: plain.bVal = *source->pbVal; return true;
        case VT_R8:
        case VT_DATE: plain.dblVal = *source->pdblVal; return true;
        case VT_BOOL: plain.boolVal = *source->pboolVal; return true;
        case VT_BSTR: plain.bstrVal = *source->pbstrVal; return true;  // borrowed, not freed
        default: plain.vt = VT_EMPTY; return false;
    }
}

// The value of a number-like variant as a double and, when exact, an integer.
bool numberOf(const VARIANT& v, double& real, long long& whole, bool& isWhole) {
    isWhole = true;
    switch (v.vt) {
        case VT_EMPTY: whole = 0; break;
        case VT_I2: whole = v.iVal; break;
        case VT_I4: whole = v.lVal; break;
        case VT_I8: whole = v.llVal; break;
        case VT_UI1: whole = v.bVal; break;
        case VT_UI2: whole = v.uiVal; break;
        case VT_UI4: whole = v.ulVal; break;
        case VT_BOOL: whole = v.boolVal ? -1 : 0; break;
        case VT_R4: real = v.fltVal; isWhole = false; return true;
        case VT_R8:
        case VT_DATE: real = v.dblVal; isWhole = false; return true;
        case VT_BSTR: {
            std::string_view text = platform::com::bstrView(v.bstrVal);
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            if (text.empty()) return false;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
            if (ec == std::errc() && end == text.data() + text.size()) break;
            std::string copy(text);
            char* stop = nullptr;
            errno = 0;
            real = std::strtod(copy.c_str(), &stop);
            if (stop != copy.c_str() + copy.size() || errno != 0) return false;
            isWhole = false;
            return true;
        }
        default: return false;
    }
    real = double(whole);
    return true;
}

template <class T>
HRESULT fitInteger(double real, long long whole, bool isWhole, T& out) {
    if (!isWhole) {
        if (!std::isfinite(real)) return DISP_E_OVERFLOW;
        double rounded = std::nearbyint(real);  // banker's rounding under the default mode
        // The largest value plus one is a power of two, exact in a double; the
        // largest value itself is not for 64 bits (it rounds up to that power).
        const double pastMax = std::ldexp(1.0, std::numeric_limits<T>::digits);
        if (rounded < double(std::numeric_limits<T>::min()) || rounded >= pastMax) {
            return DISP_E_OVERFLOW;
        }
        out = T(rounded);
        return S_OK;
    }
    if (whole < (long long)std::numeric_limits<T>::min() || whole > (long long)std::numeric_limits<T>::max()) {
        return DISP_E_OVERFLOW;
    }
    out = T(whole);
    return S_OK;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) {
        return nullptr;
    }
    return SysAllocStringLen(text, UINT(std::strlen(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR result = allocate(length);
    if (result) {
        if (text) {
            std::memcpy(result, text, length);
        } else {
            std::memset(result, 0, length);
        }
    }
    return result;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) { return SysAllocStringLen(bytes, length); }

BOOL SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (!target) {
        return FALSE;
    }
    BSTR copy = SysAllocString(text);
    if (text && !copy) {
        return FALSE;
    }
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}

void SysFreeString(BSTR text) {
    if (text) {
        std::free(text - kPrefix);
    }
}

UINT SysStringLen(BSTR text) {
    if (!text) {
        return 0;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, text - kPrefix, kPrefix);
    return length;
}

UINT SysStringByteLen(BSTR text) { return SysStringLen(text); }

void VariantInit(VARIANT* v) {
    if (v) {
        std::memset(v, 0, sizeof *v);
        v->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) {
        return E_INVALIDARG;
    }
    switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_UNKNOWN:
            if (v->punkVal) v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal) v->pdispVal->Release();
            break;
        default: break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) {
        return E_INVALIDARG;
    }
    if (dest == source) {
        return S_OK;
    }
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (!copy.bstrVal) {
            return E_OUTOFMEMORY;
        }
    } else if (source->vt == VT_UNKNOWN && source->punkVal) {
        source->punkVal->AddRef();
    } else if (source->vt == VT_DISPATCH && source->pdispVal) {
        source->pdispVal->AddRef();
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT, VARTYPE vt) {
    if (!dest || !source) {
        return E_INVALIDARG;
    }
    source = resolved(source);
    VARIANT plain;
    if (source->vt & VT_BYREF) {
        if (!dereference(source, plain)) {
            return DISP_E_TYPEMISMATCH;
        }
        source = &plain;  // a borrowed BSTR in plain is copied below, never freed
    }
    VARIANT result;
    VariantInit(&result);
    if (source->vt == vt) {
        HRESULT hr = VariantCopy(&result, source);
        if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
        char text[64];
        switch (source->vt) {
            case VT_EMPTY: text[0] = '\0'; break;
            case VT_I2: std::snprintf(text, sizeof text, "%d", source->iVal); break;
            case VT_I4: std::snprintf(text, sizeof text, "%d", int(source->lVal)); break;
            case VT_I8: std::snprintf(text, sizeof text, "%lld", (long long)source->llVal); break;
            case VT_UI1: std::snprintf(text, sizeof text, "%u", unsigned(source->bVal)); break;
            case VT_UI2: std::snprintf(text, sizeof text, "%u", unsigned(source->uiVal)); break;
            case VT_UI4: std::snprintf(text, sizeof text, "%u", unsigned(source->ulVal)); break;
            case VT_BOOL: std::snprintf(text, sizeof text, "%s", source->boolVal ? "True" : "False"); break;
            case VT_R4: std::snprintf(text, sizeof text, "%.7g", double(source->fltVal)); break;
            case VT_R8:
            case VT_DATE: std::snprintf(text, sizeof text, "%.15g", source->dblVal); break;
            default: return DISP_E_TYPEMISMATCH;
        }
        result.vt = VT_BSTR;
        result.bstrVal = SysAllocString(text);
        if (!result.bstrVal) return E_OUTOFMEMORY;
    } else {
        double real = 0;
        long long whole = 0;
        bool isWhole = true;
        if (source->vt == VT_BSTR && vt == VT_BOOL) {
            std::string_view text = platform::com::bstrView(source->bstrVal);
            if (text == "True" || text == "true" || text == "TRUE") {
                result.vt = VT_BOOL;
                result.boolVal = VARIANT_TRUE;
                goto done;
            }
            if (text == "False" || text == "false" || text == "FALSE") {
                result.vt = VT_BOOL;
                result.boolVal = VARIANT_FALSE;
                goto done;
            }
        }
        if (!numberOf(*source, real, whole, isWhole)) {
            return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = S_OK;
        result.vt = vt;
        switch (vt) {
            case VT_I2: hr = fitInteger(real, whole, isWhole, result.iVal); break;
            case VT_I4: hr = fitInteger(real, whole, isWhole, result.lVal); break;
            case VT_I8: hr = fitInteger(real, whole, isWhole, result.llVal); break;
            case VT_UI1: hr = fitInteger(real, whole, isWhole, result.bVal); break;
            case VT_UI2: hr = fitInteger(real, whole, isWhole, result.uiVal); break;
            case VT_UI4: hr = fitInteger(real, whole, isWhole, result.ulVal); break;
            case VT_BOOL: result.boolVal = (isWhole ? whole != 0 : real != 0.0) ? VARIANT_TRUE : VARIANT_FALSE; break;
            case VT_R4: result.fltVal = float(real); break;
            case VT_R8:
            case VT_DATE: result.dblVal = real; break;
            default: return DISP_E_TYPEMISMATCH;
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
done:
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

namespace platform::com {

HRESULT invokeByDispid(IDispatch* target, DISPID id, std::span<const VARIANT> argsFirstToLast, VARIANT* result) {
    if (!target) {
        return E_POINTER;
    }
    std::vector<VARIANT> reversed(argsFirstToLast.rbegin(), argsFirstToLast.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    UINT argError = 0;
    return target->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, &argError);
}

}  // namespace platform::com
