// The terminal simulator Velo.exe for tests: registration, hand-started instances, triggers, the journal.
#pragma once

#include "tests/support/TestSupport.h"
#include "tools/velo/VeloText.h"

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qxtest {

using JournalEntry = velo::JournalEntry;

// Registers Velo.exe (of this build) in the current Wine prefix with `options` recorded for COM-started
// instances; unregisters on destruction.
class SimulatorRegistration {
public:
    explicit SimulatorRegistration(const std::vector<std::string>& options = {});
    ~SimulatorRegistration();
    SimulatorRegistration(const SimulatorRegistration&) = delete;
    SimulatorRegistration& operator=(const SimulatorRegistration&) = delete;
    bool ok() const { return m_ok; }
    // Velo.exe's output when registration failed.
    const std::string& output() const { return m_output; }

private:
    bool m_ok = false;
    std::string m_output;
};
bool UnregisterSimulator();

// The command line tail for `options`, each quoted as needed.
std::string SimulatorArguments(const std::vector<std::string>& options);

// Process ids of every process whose image name is exactly "Velo.exe".
std::vector<DWORD> TerminalPids();
// For a failed test: prints the last `logChars` of the daemon's log in `logDir` and the last `journalChars`
// of the simulator's journal.
void PrintLogAndJournalEnds(const std::string& logDir, const std::string& journal, std::size_t logChars,
                            std::size_t journalChars);
// Pulls a trigger of a running simulator: "FrameClosing", "OtherEvents" or "Quit".
bool SignalTerminal(DWORD pid, const std::string& trigger);
// Asks every running Velo.exe to quit (it fires FrameClosing first), then kills by process id whatever is
// left after `grace`. For SetUp and TearDown: each test starts without a terminal.
void StopTerminals(std::chrono::milliseconds grace = std::chrono::seconds(5));

// A Velo.exe started by hand for one test; quit (or killed) at the end.
class Simulator {
public:
    Simulator() = default;
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Starts Velo.exe with `--journal journal` and `options`, and waits (bounded) until the journal shows
    // it serving. `program`: another copy of it (see CopySimulator); default this build's Velo.exe.
    bool start(const std::string& journal, const std::vector<std::string>& options = {},
               const std::string& program = {});
    DWORD pid() const { return m_process.pid(); }
    bool running() const { return m_process.running(); }
    bool fireFrameClosing() { return SignalTerminal(pid(), "FrameClosing"); }
    bool fireOtherEvents() { return SignalTerminal(pid(), "OtherEvents"); }
    // Asks it to quit and waits for its exit code.
    std::optional<DWORD> quit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ChildProcess& process() { return m_process; }

private:
    ChildProcess m_process;
};

// Copies this build's Velo.exe into `dir` as `imageName` ("velo.exe": a process that must not count as
// the terminal; start it with --no-com) and returns the copy's path, empty on failure.
std::string CopySimulator(const std::string& dir, const std::string& imageName);

// The journal's lines, parsed (torn or empty lines skipped).
std::vector<JournalEntry> ReadJournal(const std::string& path);
// Only the lines of one call ("IGroups.Add"), in order.
std::vector<JournalEntry> JournalCalls(const std::string& path, const std::string& call);
// Waits until the journal holds at least `count` lines of `call`.
bool WaitForJournalCall(const std::string& path, const std::string& call, std::size_t count = 1,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

// What a session test against the simulator holds: its folders, the simulator's journal and the rules file,
// the simulator's registration, a simulator started by hand and a daemon. EndSessionProcesses ends the last two.
struct SimulatorSession {
    TempDir work;
    TempDir logDir;
    std::string journal = work.file("velo.journal");
    std::string configFile = work.file("rules.dat");
    std::unique_ptr<SimulatorRegistration> registration;
    Simulator simulator;
    Daemon daemon;
};

// What a session test may leave behind, ended in order: the daemon, asked to stop (within `stopTimeout`) so
// that it lets go of the terminal; any stray daemon, killed by its id; the simulator started by hand; every other
// terminal. Gives the daemon's exit code when it had to be stopped and did stop, nothing otherwise.
std::optional<DWORD> EndSessionProcesses(Daemon& daemon, Simulator& simulator,
                                         std::chrono::milliseconds stopTimeout = std::chrono::seconds(30));
// The same at the start of a test, for what an earlier, crashed test left: any daemon, every terminal.
void EndStrayProcesses();

}  // namespace qxtest
