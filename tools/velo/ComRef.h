// A counted COM reference, for the simulator and the programs that talk to it.
#pragma once

#include <unknwn.h>

#include <utility>

namespace velo {

// A counted COM reference.
template <class T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller owns.
    static ComRef adopt(T* raw) {
        ComRef ref;
        ref.m_raw = raw;
        return ref;
    }
    ComRef(const ComRef& other) : m_raw(other.m_raw) {
        if (m_raw) m_raw->AddRef();
    }
    ComRef(ComRef&& other) noexcept : m_raw(std::exchange(other.m_raw, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(m_raw, other.m_raw);
        return *this;
    }
    ~ComRef() {
        if (m_raw) m_raw->Release();
    }
    T* get() const { return m_raw; }
    T* operator->() const { return m_raw; }
    explicit operator bool() const { return m_raw != nullptr; }
    T** put() {
        *this = ComRef();
        return &m_raw;
    }

private:
    T* m_raw = nullptr;
};

}  // namespace velo
