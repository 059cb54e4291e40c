// The simulated terminal as an out-of-process COM server: state, journal, COM objects, events.
#pragma once

#include "tools/velo/VeloModel.h"
#include "tools/velo/VeloOptions.h"
#include "tools/velo/VeloText.h"

#include "QuodrixLib.h"

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

// The journal file: one whole line per write, under a byte-range lock so that other writers cannot tear it.
class Journal {
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    bool open(const std::string& path);
    void write(const JournalLine& line);

private:
    std::mutex m_lock;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

// Everything the COM objects share. One per process.
class Terminal {
public:
    explicit Terminal(const VeloOptions& options);
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // For a fault rule that fires on this call: the HRESULT to return at once (S_OK for a "null" rule).
    std::optional<HRESULT> fault(const char* call, const std::wstring& key = {});

    const VeloOptions options;
    FaultTable faults;
    Journal journal;

    std::mutex lock;  // guards everything below; never held across a call out of the process
    TerminalModel model;
    VARIANT_BOOL active;
    long mode = 0;
    struct Sink {
        DWORD cookie;
        ComRef<ITFrameWndEvents> events;
    };
    std::vector<Sink> sinks;
    DWORD nextCookie = 1;

    // Calls one event method on every advised sink (outside the lock) and journals it.
    enum class Event { Activated, Deactivated, Resized, Moved, Closing, GroupActivated, WindowPiloted };
    void fire(Event event);
    void dropSinks();
};

// The class object that COM hands to clients of CLSID_Application; it lives as long as the process and
// is not counted.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Terminal& t) : m_t(t) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    Terminal& m_t;
};

}  // namespace velo
