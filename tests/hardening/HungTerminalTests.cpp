// A terminal that hangs or crawls, driven by the simulator's --hang and --delay: no client call waits on it
// for good. A stop whose proxy thread is stuck in a terminal call gives up on it after its fixed 30 s without
// progress and the daemon exits as after any stop; a merely slow terminal gets every pass, and the stop waits
// for them all. Each client call that could hang runs on a thread of its own, so that a hang fails the test
// (and the daemon is ended) instead of holding the test.
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/ProxyLogLines.h"
#include "tests/support/Simulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <future>
#include <optional>
#include <thread>

using namespace qxtest;
using ::testing::ElementsAre;

namespace {

const char* const kRules = "[Extension_Hung]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.H\r\n";

// Well above the daemon's 30 s without progress: a call still running then is held for good.
constexpr auto kClientBound = std::chrono::seconds(40);

class HungTerminalTest : public ::testing::Test, protected SimulatorSession {
protected:
    void SetUp() override {
        EndStrayProcesses();
        WriteFileText(configFile, kRules);
        registration = std::make_unique<SimulatorRegistration>(std::vector<std::string>{"--journal", journal});
        ASSERT_TRUE(registration->ok()) << registration->output();
        ASSERT_TRUE(dll.loaded());
    }

    void TearDown() override {
        if (HasFailure()) PrintLogAndJournalEnds(logDir.path(), journal, 6000, 3000);
        if (simulator.running()) SignalTerminal(simulator.pid(), "Release");
        EndSessionProcesses(daemon, simulator);
        registration.reset();
    }

    // A terminal started by hand with a Trader group of one Vista window; the daemon attaches to it.
    void StartTerminal(const std::vector<std::string>& faults) {
        std::vector<std::string> options{"--group", "Trader=Vista"};
        options.insert(options.end(), faults.begin(), faults.end());
        ASSERT_TRUE(simulator.start(journal, options)) << "Velo.exe did not come up";
    }

    // A daemon attached to the terminal, piloting Trader's Vista windows.
    void StartSession(Daemon& d, const TempDir& logs) {
        ASSERT_TRUE(d.startWithLog(logs.path())) << "daemon did not come up";
        const std::size_t advised = JournalCalls(journal, "IConnectionPoint.Advise").size();
        ASSERT_EQ(dll.StartQuodrix("127.0.0.1", 7001, configFile.c_str()), 0);
        ASSERT_TRUE(WaitUntil([&] { return JournalCalls(journal, "IConnectionPoint.Advise").size() > advised; },
                              std::chrono::seconds(60)))
            << "the daemon did not attach";
        ASSERT_EQ(dll.AddPilotingModule("Trader", "Vista"), 0);
    }

    int Pilot(const std::string& symbol) {
        return dll.PilotQuodrix(25, 7, 1, 0, symbol.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    // `call` on a thread of its own: its result when it returned within kClientBound. Otherwise the daemon is
    // ended, which lets the call return, and there is no result.
    std::optional<int> WithinBound(const std::function<int()>& call) {
        std::packaged_task<int()> task(call);
        std::future<int> result = task.get_future();
        std::thread caller(std::move(task));
        const bool returned = result.wait_for(kClientBound) == std::future_status::ready;
        if (!returned) KillStrayDaemon();
        caller.join();
        if (!returned) return std::nullopt;
        return result.get();
    }

    // The values of the successful Pilot calls, in journal order.
    std::vector<std::string> Delivered() {
        std::vector<std::string> values;
        for (const auto& entry : ReadJournal(journal))
            if (entry.call == "IVistaWindow.Pilot" && entry.get("hr") == "0x00000000")
                values.push_back(entry.get("value"));
        return values;
    }
    bool WaitDelivered(std::size_t count, int seconds = 60) {
        return WaitUntil([&] { return Delivered().size() >= count; }, std::chrono::seconds(seconds));
    }

    std::size_t LogCount(const TempDir& logs, const std::string& text) {
        auto texts = LogTexts(logs.path());
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }

    // The stop gave up on the stuck proxy thread once, and the daemon then ended as after any stop.
    void ExpectStoppedWithoutTheStuckThread() {
        EXPECT_EQ(daemon.process().wait(std::chrono::seconds(20)), 0u) << "the daemon did not exit with 0";
        EXPECT_EQ(LogCount(logDir, kStalledStopping), 1u);
        auto texts = LogTexts(logDir.path());
        ASSERT_GE(texts.size(), 2u);
        EXPECT_THAT(std::vector<std::string>(texts.end() - 2, texts.end()),
                    ElementsAre("Exiting QXPilot", "Closing log file."));
    }

    ClientDll dll;
};

TEST_F(HungTerminalTest, AStopWhileTheTerminalHangsInPilotReturnsAndANewDaemonPilotsOnceItIsReleased) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--hang", "IVistaWindow.Pilot"}));
    ASSERT_NO_FATAL_FAILURE(StartSession(daemon, logDir));
    ASSERT_EQ(Pilot("STUCK"), 0);
    ASSERT_TRUE(WaitForJournalCall(journal, "Velo.Hang", 1, std::chrono::seconds(60))) << "the Pilot did not hang";

    EXPECT_EQ(WithinBound([&] { return dll.StopDaemon(); }), std::optional<int>(0)) << "StopDaemon was held";
    ExpectStoppedWithoutTheStuckThread();
    EXPECT_TRUE(ProcessesNamed("QXPilotSt.exe").empty());

    // Released, the terminal answers the held call (to nobody) and serves a new daemon.
    ASSERT_TRUE(SignalTerminal(simulator.pid(), "Release"));
    ASSERT_TRUE(WaitDelivered(1)) << "the held Pilot never answered";
    TempDir secondLogs;
    Daemon second;
    ASSERT_NO_FATAL_FAILURE(StartSession(second, secondLogs));
    ASSERT_EQ(Pilot("AGAIN"), 0);
    ASSERT_TRUE(WaitDelivered(2));
    EXPECT_THAT(Delivered(), ElementsAre("STUCK.H", "AGAIN.H"));
    EXPECT_EQ(second.stop(), 0u);
    EXPECT_EQ(LogCount(secondLogs, kStalledStopping), 0u);
}

TEST_F(HungTerminalTest, WhileTheTerminalHangsAsTheLinkIsDisposedPilotAndStopRequestsStillReturn) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--hang", "IConnectionPoint.Unadvise"}));
    ASSERT_NO_FATAL_FAILURE(StartSession(daemon, logDir));
    ASSERT_EQ(Pilot("BEFORE"), 0);
    ASSERT_TRUE(WaitDelivered(1));
    // The frame closes: the proxy thread disposes the link and hangs in the unadvise.
    ASSERT_TRUE(simulator.fireFrameClosing());
    ASSERT_TRUE(WaitForJournalCall(journal, "Velo.Hang", 1, std::chrono::seconds(60)))
        << "the unadvise did not hang";

    EXPECT_EQ(WithinBound([&] { return Pilot("DURING"); }), std::optional<int>(0)) << "PilotQuodrix was held";
    EXPECT_TRUE(WaitForLogText(logDir.path(), "Value that had been sent to Quodrix : [DURING.H]"));
    EXPECT_EQ(WithinBound([&] { return dll.StopDaemon(); }), std::optional<int>(0)) << "StopDaemon was held";
    ExpectStoppedWithoutTheStuckThread();
    EXPECT_THAT(Delivered(), ElementsAre("BEFORE.H"));
}

TEST_F(HungTerminalTest, ASlowTerminalGetsEveryPassAndTheStopWaitsForTheQueuedOnes) {
    // Every call of the terminal answers 200 ms late.
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--delay", "*=200"}));
    ASSERT_NO_FATAL_FAILURE(StartSession(daemon, logDir));
    // One at a time, each value arrives.
    for (const char* symbol : {"S1", "S2", "S3"}) {
        ASSERT_EQ(Pilot(symbol), 0);
        ASSERT_TRUE(WaitDelivered(Delivered().size() + 1)) << symbol << " did not arrive";
    }
    // Three more at once: each queues a pass, and the stop returns only once all three have run.
    for (const char* symbol : {"S4", "S5", "S6"}) ASSERT_EQ(Pilot(symbol), 0);
    ASSERT_EQ(dll.StopDaemon(), 0);
    std::vector<std::string> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(delivered.begin(), delivered.begin() + 3), ElementsAre("S1.H", "S2.H", "S3.H"));
    // Each queued pass sends the value pending when it runs: the last one sends the last value.
    EXPECT_EQ(delivered.back(), "S6.H");
    EXPECT_EQ(daemon.process().wait(std::chrono::seconds(20)), 0u);
    EXPECT_EQ(LogCount(logDir, kStalledStopping), 0u);
}

}  // namespace
