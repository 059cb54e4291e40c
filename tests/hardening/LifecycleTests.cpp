// R5: daemon sessions started and stopped through IQXPilotSt.dll, one after the other, each attaching to the
// terminal simulator and piloting it once, plainly or with the integrity launch. Every StartDaemon and
// StopDaemon returns 0, every daemon ends with 0, and no daemon or terminal process is left behind.
// Regular suite: 100 cycles; QX_HARDENING_FULL=1: 500.
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/Simulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace qxtest;

namespace {

// The daemon's process, found through its window, for its exit code.
class DaemonProcess {
public:
    DaemonProcess() {
        DWORD pid = DaemonWindowPid();
        if (pid != 0) m_process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    }
    ~DaemonProcess() {
        if (m_process != nullptr) CloseHandle(m_process);
    }
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;
    bool found() const { return m_process != nullptr; }
    std::optional<DWORD> exitCode(DWORD timeoutMs) {
        if (m_process == nullptr || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return code;
    }

private:
    HANDLE m_process = nullptr;
};

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        EndStrayProcesses();
        journal = work.file("velo.journal");
        config = work.file("rules.dat");
    }
    // Daemons started through the library have no owner here: whatever runs is ended by process id.
    void TearDown() override {
        // A cycle that fails is one among hundreds: show where the daemon and the terminal stopped.
        if (HasFailure()) PrintLogAndJournalEnds(logDir.path(), journal, 3000, 3000);
        KillStrayDaemon();
        simulator.quit();
        StopTerminals();
    }

    TempDir work, logDir;
    std::string journal, config;
    Simulator simulator;
};

TEST_F(Lifecycle, StartAndStopCyclesThroughTheLibrary) {
    WriteFileText(config, "[Extension_Cycle]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.C\r\n");
    SimulatorRegistration registration({"--journal", journal});
    ASSERT_TRUE(registration.ok()) << registration.output();
    ASSERT_TRUE(simulator.start(journal, {"--group", "Cycle=Vista"}));
    ClientDll dll;
    ASSERT_TRUE(dll.loaded());
    const std::string exe = BinPath("QXPilotSt.exe");

    const int cycles = RunCount(100, 500);
    auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_EQ(dll.StartDaemon(exe.c_str(), static_cast<uint8_t>(cycle % 2), logDir.path().c_str()), 0);
        DaemonProcess process;
        ASSERT_TRUE(process.found()) << "no daemon window after StartDaemon";
        ASSERT_EQ(dll.StartQuodrix("127.0.0.1", 7001, config.c_str()), 0);
        ASSERT_EQ(dll.AddPilotingModule("Cycle", "Vista"), 0);
        const std::string symbol = "CYCLE" + std::to_string(cycle);
        ASSERT_EQ(dll.PilotQuodrix(25, 7, 1, 0, symbol.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  0);
        ASSERT_TRUE(WaitUntil([&] {
            auto pilots = JournalCalls(journal, "IVistaWindow.Pilot");
            return !pilots.empty() && pilots.back().get("value") == symbol + ".C";
        })) << symbol << " never reached the window";
        ASSERT_EQ(dll.StopDaemon(), 0);
        ASSERT_EQ(process.exitCode(30000), 0u);
        ASSERT_EQ(DaemonWindowPid(), 0u);
        ASSERT_THAT(ProcessesNamed("QXPilotSt.exe"), ::testing::IsEmpty());
        // The one terminal runs on: no daemon launched another.
        ASSERT_EQ(TerminalPids().size(), 1u);
        ++done;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(dll.StopDaemon(), 100);

    auto texts = LogTexts(logDir.path());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Starting QXPilot"), cycles);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Exiting QXPilot"), cycles);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Closing log file."), cycles);
    LogWholeness whole = CheckLogWholeness(ReadFileText(FindLogFile(logDir.path())));
    EXPECT_EQ(whole.tornCount, 0u) << (whole.torn.empty() ? "" : whole.torn[0]);
    ASSERT_TRUE(simulator.quit().has_value());
    StopTerminals();
    EXPECT_THAT(TerminalPids(), ::testing::IsEmpty());
    EXPECT_THAT(ProcessesNamed("QXPilotSt.exe"), ::testing::IsEmpty());
    Figure("R5 %d start/stop cycles through IQXPilotSt.dll (half with the integrity launch), each attaching and "
           "piloting once: every StartDaemon, StopDaemon and daemon exit code 0, %.2f s a cycle, one log file of "
           "%zu whole lines, no daemon or terminal process left",
           done, seconds / std::max(done, 1), whole.lines);
}

}  // namespace
