// Owners for COM references and BSTRs: every COM pointer the daemon holds is a ComPtr.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace ComHelper {

// One counted reference: released on reassignment and destruction.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference of its own.
    explicit ComPtr(T* object) noexcept : m_ptr(object) {
        if (m_ptr) m_ptr->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_ptr) {}
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Adopts a reference the caller already owns (a fresh object's first reference).
    static ComPtr adopt(T* object) noexcept {
        ComPtr result;
        result.m_ptr = object;
        return result;
    }

    void reset() noexcept {
        // Cleared before the release: a destructor reached from it may look at this owner again.
        if (T* old = std::exchange(m_ptr, nullptr)) old->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // Out parameter of a call that returns a new reference; the reference held so far is released first.
    T** put() noexcept {
        reset();
        return &m_ptr;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_ptr == b.m_ptr; }

private:
    T* m_ptr = nullptr;
};

// An owned BSTR, freed on destruction.
class Bstr {
public:
    Bstr() noexcept = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            reset();
            m_text = std::exchange(other.m_text, nullptr);
        }
        return *this;
    }
    ~Bstr() { reset(); }

    static Bstr adopt(BSTR text) noexcept {
        Bstr result;
        result.m_text = text;
        return result;
    }

    void reset() noexcept {
        if (BSTR old = std::exchange(m_text, nullptr)) SysFreeString(old);
    }
    BSTR get() const noexcept { return m_text; }
    BSTR* put() noexcept {
        reset();
        return &m_text;
    }

private:
    BSTR m_text = nullptr;
};

}  // namespace ComHelper
