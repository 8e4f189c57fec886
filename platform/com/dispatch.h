#pragma once
// IDispatch from a table of names and dispatch ids.
//
//   class CThing : public ComObject<CThing, DispatchImpl<CThing, IThing>> {
//   public:
//       static std::span<const DispatchMember<CThing>> dispatchMembers() {
//           static const DispatchMember<CThing> table[] = {
//               {"Open", 1, &dispatchMethod<&CThing::Open>},
//           };
//           return table;
//       }
//       HRESULT Open(BSTR path) override;
//   };
//
// GetIDsOfNames matches names without regard to case. Invoke converts the
// positional arguments (given last-first, as DISPPARAMS holds them) to the
// method's parameter types: SHORT, LONG, ULONG, LONGLONG, BYTE, double,
// VARIANT_BOOL, BSTR (= char*) and const char* (text in), IUnknown* and
// IDispatch*; pointers to those types are out-parameters passed by reference
// (VT_BYREF); any other pointer (a record) is an address passed as an integer
// (VT_I8 or VT_I4). A char* parameter is text in: a method that fills a
// caller's char buffer does not belong in a dispatch table. When the caller
// passes one argument fewer than the method takes and the last parameter is
// an out-parameter, its value comes back in the result (a "retval").

#include "platform/com/oleauto.h"

#include <cstddef>
#include <span>
#include <strings.h>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform::com {

inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresult(0x80020001);

template <class T>
struct DispatchMember {
    const char* name;
    DISPID id;
    HRESULT (*invoke)(T& self, DISPPARAMS& params, VARIANT* result, UINT* argError);
    // The kinds of call it answers (DISPATCH_ flags); 0: every kind. A
    // property's get and put share one id and differ here.
    WORD kinds = 0;
};

namespace detail {

template <class A>
constexpr VARTYPE varTypeOf() {
    if constexpr (std::is_same_v<A, SHORT>) return VT_I2;
    else if constexpr (std::is_same_v<A, LONG>) return VT_I4;
    else if constexpr (std::is_same_v<A, LONGLONG>) return VT_I8;
    else if constexpr (std::is_same_v<A, ULONG>) return VT_UI4;
    else if constexpr (std::is_same_v<A, BYTE>) return VT_UI1;
    else if constexpr (std::is_same_v<A, double>) return VT_R8;
    else if constexpr (std::is_same_v<A, BSTR>) return VT_BSTR;
    else if constexpr (std::is_same_v<A, IDispatch*>) return VT_DISPATCH;
    else if constexpr (std::is_same_v<A, IUnknown*>) return VT_UNKNOWN;
    else return VT_EMPTY;
}

// One converted argument: `value` is what the method receives; `hold` keeps a
// converted copy alive for the call; `ret` is the slot of a retval.
template <class A>
struct Arg {
    A value{};
    Variant hold;

    HRESULT load(const VARIANT& source) {
        if constexpr (std::is_same_v<A, VARIANT_BOOL>) {
            HRESULT hr = VariantChangeType(&hold, &source, 0, VT_BOOL);
            value = hold.boolVal;
            return hr;
        } else if constexpr (std::is_same_v<A, BSTR>) {
            HRESULT hr = VariantChangeType(&hold, &source, 0, VT_BSTR);
            value = hold.bstrVal;
            return hr;
        } else if constexpr (std::is_same_v<A, const char*>) {
            HRESULT hr = VariantChangeType(&hold, &source, 0, VT_BSTR);
            value = hold.bstrVal ? hold.bstrVal : "";
            return hr;
        } else if constexpr (std::is_same_v<A, IUnknown*> || std::is_same_v<A, IDispatch*>) {
            const VARIANT* v = (source.vt & VT_BYREF) && (source.vt & ~VT_BYREF) == VT_VARIANT ? source.pvarVal : &source;
            if (v->vt == VT_EMPTY || v->vt == VT_NULL) {
                value = nullptr;
                return S_OK;
            }
            if (v->vt != VT_UNKNOWN && v->vt != VT_DISPATCH) {
                return DISP_E_TYPEMISMATCH;
            }
            if constexpr (std::is_same_v<A, IDispatch*>) {
                if (v->vt != VT_DISPATCH) {
                    return DISP_E_TYPEMISMATCH;
                }
                value = v->pdispVal;
            } else {
                value = v->punkVal;
            }
            return S_OK;
        } else if constexpr (std::is_pointer_v<A>) {
            using Pointee = std::remove_pointer_t<A>;
            constexpr VARTYPE pointee = std::is_same_v<Pointee, VARIANT_BOOL> ? VARTYPE(VT_BOOL) : varTypeOf<Pointee>();
            if constexpr (pointee != VT_EMPTY) {
                if (source.vt != (pointee | VT_BYREF)) {
                    return DISP_E_TYPEMISMATCH;
                }
                value = static_cast<A>(source.byref);
                return S_OK;
            } else {
                // An address carried as an integer.
                HRESULT hr = VariantChangeType(&hold, &source, 0, VT_I8);
                value = reinterpret_cast<A>(static_cast<std::intptr_t>(hold.llVal));
                return hr;
            }
        } else {
            constexpr VARTYPE type = varTypeOf<A>();
            static_assert(type != VT_EMPTY, "parameter type not supported by the dispatch table");
            HRESULT hr = VariantChangeType(&hold, &source, 0, type);
            if (SUCCEEDED(hr)) {
                if constexpr (std::is_same_v<A, SHORT>) value = hold.iVal;
                else if constexpr (std::is_same_v<A, LONG>) value = hold.lVal;
                else if constexpr (std::is_same_v<A, LONGLONG>) value = hold.llVal;
                else if constexpr (std::is_same_v<A, ULONG>) value = hold.ulVal;
                else if constexpr (std::is_same_v<A, BYTE>) value = hold.bVal;
                else if constexpr (std::is_same_v<A, double>) value = hold.dblVal;
            }
            return hr;
        }
    }
};

template <class A>
constexpr bool isOutParam() {
    if constexpr (std::is_pointer_v<A> && !std::is_same_v<A, const char*> && !std::is_same_v<A, IUnknown*> &&
                  !std::is_same_v<A, IDispatch*>) {
        using Pointee = std::remove_pointer_t<A>;
        return std::is_same_v<Pointee, VARIANT_BOOL> || varTypeOf<Pointee>() != VT_EMPTY;
    }
    return false;
}

// Moves a retval into the result variant.
template <class P>
void storeRetval(P& slot, VARIANT* result) {
    if (!result) {
        if constexpr (std::is_same_v<P, BSTR>) {
            SysFreeString(slot);
        } else if constexpr (std::is_same_v<P, IUnknown*> || std::is_same_v<P, IDispatch*>) {
            if (slot) slot->Release();
        }
        return;
    }
    VariantClear(result);
    if constexpr (std::is_same_v<P, VARIANT_BOOL>) {
        result->vt = VT_BOOL;
        result->boolVal = slot;
    } else {
        result->vt = varTypeOf<P>();
        if constexpr (std::is_same_v<P, SHORT>) result->iVal = slot;
        else if constexpr (std::is_same_v<P, LONG>) result->lVal = slot;
        else if constexpr (std::is_same_v<P, LONGLONG>) result->llVal = slot;
        else if constexpr (std::is_same_v<P, ULONG>) result->ulVal = slot;
        else if constexpr (std::is_same_v<P, BYTE>) result->bVal = slot;
        else if constexpr (std::is_same_v<P, double>) result->dblVal = slot;
        else if constexpr (std::is_same_v<P, BSTR>) result->bstrVal = slot;
        else if constexpr (std::is_same_v<P, IDispatch*>) result->pdispVal = slot;
        else if constexpr (std::is_same_v<P, IUnknown*>) result->punkVal = slot;
    }
}

template <auto Method>
struct MethodTraits;

template <class C, class... A, HRESULT (C::*M)(A...)>
struct MethodTraits<M> {
    using Class = C;
    using Args = std::tuple<A...>;
    static constexpr std::size_t count = sizeof...(A);
};

template <class T, auto Method, std::size_t... I>
HRESULT invokeWith(T& self, DISPPARAMS& params, VARIANT* result, UINT* argError, std::index_sequence<I...>) {
    using Traits = MethodTraits<Method>;
    using Args = typename Traits::Args;
    constexpr std::size_t count = Traits::count;
    using Last = std::tuple_element_t<count - 1, Args>;
    constexpr bool lastIsOut = isOutParam<Last>();
    using RetSlot = std::conditional_t<lastIsOut, std::remove_pointer_t<Last>, int>;

    std::tuple<Arg<std::tuple_element_t<I, Args>>...> args;
    RetSlot retSlot{};
    const bool retval = lastIsOut && params.cArgs + 1 == count;
    if (params.cArgs != count && !retval) {
        return DISP_E_BADPARAMCOUNT;
    }

    HRESULT loadResult = S_OK;
    auto loadOne = [&](auto& arg, std::size_t index) {
        if (FAILED(loadResult) || index >= params.cArgs) {
            return;  // the retval slot is bound below
        }
        const VARIANT& source = params.rgvarg[params.cArgs - 1 - index];
        loadResult = arg.load(source);
        if (FAILED(loadResult) && argError) {
            *argError = UINT(params.cArgs - 1 - index);
        }
    };
    (loadOne(std::get<I>(args), I), ...);
    if (FAILED(loadResult)) {
        return loadResult;
    }
    if constexpr (lastIsOut) {
        if (retval) {
            std::get<count - 1>(args).value = &retSlot;
        }
    }
    HRESULT hr = (self.*Method)(std::get<I>(args).value...);
    if constexpr (lastIsOut) {
        if (retval && SUCCEEDED(hr)) {
            storeRetval(retSlot, result);
        }
    }
    return hr;
}

template <class T, auto Method>
HRESULT invokeMethod(T& self, DISPPARAMS& params, VARIANT* result, UINT* argError) {
    using Traits = MethodTraits<Method>;
    if constexpr (Traits::count == 0) {
        if (params.cArgs != 0) {
            return DISP_E_BADPARAMCOUNT;
        }
        return (self.*Method)();
    } else {
        return invokeWith<T, Method>(self, params, result, argError, std::make_index_sequence<Traits::count>());
    }
}

}  // namespace detail

// The table entry's invoker of one method.
template <auto Method>
HRESULT dispatchMethod(typename detail::MethodTraits<Method>::Class& self, DISPPARAMS& params, VARIANT* result,
                       UINT* argError) {
    return detail::invokeMethod<typename detail::MethodTraits<Method>::Class, Method>(self, params, result, argError);
}

// Implements the IDispatch part of a dual interface I for the class T, from
// T::dispatchMembers(). The dispatch ids in the table are the interface's.
template <class T, class I>
class DispatchImpl : public I {
public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, void** typeInfo) override {
        if (typeInfo) {
            *typeInfo = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return lookupNames(T::dispatchMembers(), riid, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO*, UINT* argError) override {
        if (!(riid == IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        DISPPARAMS& p = params ? *params : none;
        if (p.cArgs > 0 && !p.rgvarg) {
            return E_INVALIDARG;
        }
        if (p.cNamedArgs > 0 && !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
            return DISP_E_NONAMEDARGS;
        }
        for (const auto& member : T::dispatchMembers()) {
            if (member.id == id && (member.kinds == 0 || (member.kinds & flags) != 0)) {
                return member.invoke(static_cast<T&>(*this), p, result, argError);
            }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    template <class Table>
    static HRESULT lookupNames(const Table& table, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
        if (!(riid == IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        if (!names || !ids || count == 0) {
            return E_INVALIDARG;
        }
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
        }
        HRESULT hr = DISP_E_UNKNOWNNAME;
        if (names[0]) {
            for (const auto& member : table) {
                if (::strcasecmp(member.name, names[0]) == 0) {
                    ids[0] = member.id;
                    hr = S_OK;
                    break;
                }
            }
        }
        // Named parameters are not supported: their names are unknown.
        return count > 1 ? DISP_E_UNKNOWNNAME : hr;
    }
};

// Calls a method of a dispatch interface by id with positional arguments given
// first-to-last (the helper reverses them as DISPPARAMS expects).
// The arguments stay the caller's: the callee reads them and frees nothing.
HRESULT invokeByDispid(IDispatch* target, DISPID id, std::span<const VARIANT> argsFirstToLast,
                       VARIANT* result = nullptr);
inline HRESULT invokeByDispid(IDispatch* target, DISPID id, std::span<const Variant> argsFirstToLast,
                              VARIANT* result = nullptr) {
    std::vector<VARIANT> plain(argsFirstToLast.begin(), argsFirstToLast.end());
    return invokeByDispid(target, id, std::span<const VARIANT>(plain), result);
}

}  // namespace platform::com
