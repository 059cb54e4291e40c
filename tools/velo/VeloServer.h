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
#include <functional>
#include <map>
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

// The objects the server hands to its clients, one per identity ("group:G1", "window:G1W1", ...), each made
// on first use and kept, under a strong external lock, until the server quits.
//
// No client's Release can then delete a stub of ours. Wine 8 withdraws an interface's RPC registration when
// the last stub for that interface goes away, and waits there for the calls on it to end; a call that ends
// just as that wait begins is missed, and the wait (with the client's Release behind it) never returns.
class HandedObjects {
public:
    HandedObjects() = default;
    ~HandedObjects() { disconnectAll(); }
    HandedObjects(const HandedObjects&) = delete;
    HandedObjects& operator=(const HandedObjects&) = delete;

    // The object of `identity` (made by `make`, which returns its first reference) queried for `iid`.
    HRESULT handOut(const std::wstring& identity, REFIID iid, void** out, const std::function<IUnknown*()>& make);
    // Ends every client's connection to them and lets them go; no wait on running calls.
    void disconnectAll();

private:
    std::mutex m_lock;
    std::map<std::wstring, ComRef<IUnknown>> m_objects;
};

// Everything the COM objects share. One per process.
class Terminal {
public:
    explicit Terminal(const VeloOptions& options);
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Paces the call as the --delay and --hang rules say, then, for a --fail rule that fires on it, the
    // HRESULT to return at once (S_OK for a "null" rule).
    std::optional<HRESULT> fault(const char* call, const std::wstring& key = {});

    // Lets go of every call held by --hang; from then on no call hangs.
    void releaseHangs() { SetEvent(m_released); }

    const VeloOptions options;
    FaultTable faults;
    Journal journal;
    HandedObjects objects;

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

    ~Terminal();

private:
    HANDLE m_started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // "VeloSim_Release_<pid>", manual-reset: once set, it stays set.
    HANDLE m_released;
};

// The name of a trigger event of the process `pid`: "VeloSim_<what>_<pid>".
std::string TriggerName(const char* what, DWORD pid);

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
