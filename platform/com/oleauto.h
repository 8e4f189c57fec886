#pragma once
// Automation types: BSTR text, VARIANT values and the IDispatch interface.
//
// A BSTR is 8-bit text with its length in bytes in the 32-bit word just before
// the first character, and a NUL after the last; a null BSTR is the empty text.
// BSTRs are allocated and freed only by the Sys* functions of this library, so a
// string made in one module may be freed in another.
//
// Addresses that travel through interfaces as integers are pointer-sized: VT_I8
// (llVal) carries them.

#include "platform/com/com.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zero-filled
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Replaces *target with a copy of text; FALSE (and *target untouched) when memory runs out.
BOOL SysReAllocString(BSTR* target, const OLECHAR* text);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_BYREF = 0x4000,
};

struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        BYTE bVal;
        USHORT uiVal;
        ULONG ulVal;
        LONGLONG llVal;
        ULONGLONG ullVal;
        float fltVal;
        double dblVal;
        DATE date;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        BYTE* pbVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
// Frees what the variant owns (its BSTR, its interface reference) and empties it.
HRESULT VariantClear(VARIANT* v);
// dest is cleared first; a BSTR is duplicated, an interface gains a reference.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);
// Converts between the number types, VT_BOOL, VT_DATE and VT_BSTR (decimal text);
// a by-reference source is read through. DISP_E_TYPEMISMATCH when there is no
// conversion, DISP_E_OVERFLOW when the value does not fit.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt);
inline constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
inline constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hresult(0x80020007);

struct DISPPARAMS {
    VARIANTARG* rgvarg;        // arguments in reverse order: the last one first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    void* pfnDeferredFillIn;
    HRESULT scode;
};

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IDispatch : IUnknown {
    static constexpr IID iid = IID_IDispatch;
    using Base = IUnknown;
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    // No type information objects exist here: E_NOTIMPL.
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, void** typeInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;

protected:
    ~IDispatch() = default;
};

namespace platform::com {

// Owns one BSTR. adopt() takes a string the caller owns; the constructors copy.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view text) : m_text(SysAllocStringLen(text.data(), UINT(text.size()))) {}
    explicit Bstr(const char* text) : m_text(SysAllocString(text)) {}
    Bstr(const Bstr& other) : m_text(other.m_text ? SysAllocStringLen(other.m_text, other.length()) : nullptr) {}
    Bstr(Bstr&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
    Bstr& operator=(Bstr other) noexcept {
        std::swap(m_text, other.m_text);
        return *this;
    }
    ~Bstr() { SysFreeString(m_text); }

    static Bstr adopt(BSTR text) {
        Bstr result;
        result.m_text = text;
        return result;
    }
    [[nodiscard]] BSTR detach() { return std::exchange(m_text, nullptr); }
    BSTR* put() {
        SysFreeString(std::exchange(m_text, nullptr));
        return &m_text;
    }

    BSTR get() const { return m_text; }
    UINT length() const { return SysStringLen(m_text); }
    std::string_view view() const { return m_text ? std::string_view(m_text, length()) : std::string_view(); }
    std::string str() const { return std::string(view()); }

private:
    BSTR m_text = nullptr;
};

// The text of a BSTR (empty for null).
inline std::string_view bstrView(BSTR text) {
    return text ? std::string_view(text, SysStringLen(text)) : std::string_view();
}

// Owns one VARIANT and clears it at the end.
class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    Variant(const Variant& other) : Variant() { VariantCopy(this, &other); }
    Variant(Variant&& other) noexcept : VARIANT(other) { VariantInit(&other); }
    Variant& operator=(const Variant& other) {
        if (this != &other) {
            VariantCopy(this, &other);
        }
        return *this;
    }
    ~Variant() { VariantClear(this); }

    static Variant i2(SHORT value) { Variant v; v.vt = VT_I2; v.iVal = value; return v; }
    static Variant i4(LONG value) { Variant v; v.vt = VT_I4; v.lVal = value; return v; }
    static Variant i8(LONGLONG value) { Variant v; v.vt = VT_I8; v.llVal = value; return v; }
    static Variant r8(double value) { Variant v; v.vt = VT_R8; v.dblVal = value; return v; }
    static Variant boolean(bool value) { Variant v; v.vt = VT_BOOL; v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; return v; }
    static Variant text(std::string_view value) {
        Variant v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(value.data(), UINT(value.size()));
        return v;
    }
    // A by-reference argument for an out-parameter of the given type.
    static Variant ref(VARTYPE type, void* target) { Variant v; v.vt = VARTYPE(type | VT_BYREF); v.byref = target; return v; }
};

}  // namespace platform::com
