#pragma once
// ComPtr: owns one reference to an interface. Taking a pointer is spelled two
// ways on purpose, so a reader sees who pays for the reference:
//   ComPtr<I>::adopt(p)   takes over a reference the caller already holds;
//   ComPtr<I>::addRef(p)  takes a new reference (calls AddRef).
// Out-parameters fill it through put() (which releases what it held first).
// Used on one thread at a time, like the object it points to.

#include "platform/com/com.h"

#include <utility>

namespace platform::com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : m_ptr(other.m_ptr) {
        if (m_ptr) {
            m_ptr->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }
    ~ComPtr() { reset(); }

    static ComPtr adopt(T* ptr) {
        ComPtr result;
        result.m_ptr = ptr;
        return result;
    }
    static ComPtr addRef(T* ptr) {
        ComPtr result;
        result.m_ptr = ptr;
        if (ptr) {
            ptr->AddRef();
        }
        return result;
    }

    void reset() {
        if (T* old = std::exchange(m_ptr, nullptr)) {
            old->Release();
        }
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* detach() { return std::exchange(m_ptr, nullptr); }

    // For out-parameters: releases the current reference, then hands out the slot.
    T** put() {
        reset();
        return &m_ptr;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    // Asks the object for another interface; E_POINTER when this is empty.
    template <class U>
    HRESULT queryInterface(ComPtr<U>& out) const {
        if (!m_ptr) {
            out.reset();
            return E_POINTER;
        }
        return m_ptr->QueryInterface(U::iid, out.putVoid());
    }

    // Copies a new reference out to a caller's T** (E_POINTER for null).
    HRESULT copyTo(T** out) const {
        if (!out) {
            return E_POINTER;
        }
        *out = m_ptr;
        if (m_ptr) {
            m_ptr->AddRef();
        }
        return S_OK;
    }

private:
    T* m_ptr = nullptr;
};

template <class T>
bool operator==(const ComPtr<T>& a, const ComPtr<T>& b) {
    return a.get() == b.get();
}

// Creates an object of a registered class and asks it for T.
template <class T>
HRESULT createInstance(REFCLSID clsid, ComPtr<T>& out) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, T::iid, out.putVoid());
}

}  // namespace platform::com
