#pragma once
// Building blocks for objects that implement interfaces.
//
//   class Thing : public platform::com::ComObject<Thing, IThing, ISupportErrorInfo> { ... };
//   ComPtr<IThing> p;  HRESULT hr = Thing::createInstance(IThing::iid, p.putVoid(), args...);
//
// ComObject counts references atomically and deletes the object at the last
// Release; QueryInterface answers for every listed interface and the interfaces
// they extend (each interface names its parent as `Base`). While any object
// exists, the module's lock count is held, so DllCanUnloadNow says S_FALSE.
//
// Objects are used on the thread that created them; only the reference count
// may be touched from others.

#include "platform/com/com.h"
#include "platform/com/guarded.h"

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace platform::com {

// Objects alive plus LockServer(TRUE) calls of this module. An inline variable:
// a server library built with hidden visibility has its own copy.
inline std::atomic<long> g_moduleLockCount{0};

inline void lockModule() { g_moduleLockCount.fetch_add(1, std::memory_order_relaxed); }
inline void unlockModule() { g_moduleLockCount.fetch_sub(1, std::memory_order_relaxed); }
inline bool moduleCanUnload() { return g_moduleLockCount.load(std::memory_order_relaxed) == 0; }

namespace detail {

template <class I, class = void>
struct HasBase : std::false_type {};
template <class I>
struct HasBase<I, std::void_t<typename I::Base>> : std::true_type {};

// True when riid names I or an interface that I extends.
template <class I>
bool interfaceChainHas(REFIID riid) {
    if (riid == I::iid) {
        return true;
    }
    if constexpr (HasBase<I>::value) {
        return interfaceChainHas<typename I::Base>(riid);
    }
    return false;
}

template <class First, class... Rest>
struct FirstOf {
    using type = First;
};

}  // namespace detail

template <class Derived, class... Interfaces>
class ComObject : public Interfaces... {
public:
    using PrimaryInterface = typename detail::FirstOf<Interfaces...>::type;

    ComObject() { lockModule(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() { unlockModule(); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (riid == IID_IUnknown) {
            *object = static_cast<PrimaryInterface*>(this);
        } else {
            (findInterface<Interfaces>(riid, object) || ...);
        }
        if (!*object) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            delete static_cast<Derived*>(this);
        }
        return left;
    }

    IUnknown* unknown() { return static_cast<PrimaryInterface*>(this); }

    // Makes a new object and hands out the asked interface (one reference).
    template <class... Args>
    static HRESULT createInstance(REFIID riid, void** object, Args&&... args) {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        Derived* created = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (!created) {
            return E_OUTOFMEMORY;
        }
        created->AddRef();
        HRESULT hr = created->QueryInterface(riid, object);
        created->Release();  // deletes it when the interface was refused
        return hr;
    }

private:
    template <class I>
    bool findInterface(REFIID riid, void** object) {
        if (detail::interfaceChainHas<I>(riid)) {
            *object = static_cast<I*>(this);
            return true;
        }
        return false;
    }

    std::atomic<ULONG> m_refs{0};
};

// The class factory of one class: CreateInstance refuses an outer object with
// CLASS_E_NOAGGREGATION and otherwise builds a T with its default constructor.
template <class T>
class ClassFactory : public ComObject<ClassFactory<T>, IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        // A constructor that throws is answered with a code, as every entry is.
        return guarded("IClassFactory::CreateInstance", [&] { return T::createInstance(riid, object); });
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            lockModule();
        } else {
            unlockModule();
        }
        return S_OK;
    }
};

}  // namespace platform::com
