// The simulated terminal as an out-of-process COM server: state, journal, COM objects, events.
#pragma once

#include "tools/velo/ComRef.h"
#include "tools/velo/VeloModel.h"
#include "tools/velo/VeloOptions.h"
#include "tools/velo/VeloText.h"

#include "QuodrixLib.h"

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velo {

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

    // Set once the start line is journaled: creation requests wait for it, so that it comes first.
    void markStarted() { SetEvent(m_started); }
    void waitStarted() { WaitForSingleObject(m_started, 10000); }

    // Calls one event method on every advised sink (outside the lock) and journals it.
    enum class Event { Activated, Deactivated, Resized, Moved, Closing, GroupActivated, WindowPiloted };
    void fire(Event event);
    void dropSinks();

    ~Terminal() { CloseHandle(m_started); }

private:
    HANDLE m_started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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

// Wine's COM withdraws an interface's RPC registration when the process's last stub for that interface goes
// away, and waits for calls on it to end; a call that ends just as the wait begins is missed, and the wait
// (and the client's Release behind it) never returns. Holding one table-marshalled object for every
// interface the simulator serves keeps each registration alive for the life of the process.
class InterfacePins {
public:
    explicit InterfacePins(Terminal& t);
    ~InterfacePins();
    InterfacePins(const InterfacePins&) = delete;
    InterfacePins& operator=(const InterfacePins&) = delete;

private:
    // An interface the object does not give out (a kind hidden by --bare-kind) is simply not pinned.
    void pin(IUnknown* object, std::initializer_list<const IID*> iids);
    std::vector<ComRef<IUnknown>> m_objects;
};

}  // namespace velo
