// R4: eight client processes pilot at once, each as fast as the daemon answers. Every request is handled (its
// value logged), the value of the last one handled reaches the simulator's window, the daemon stops with 0
// and every log line is whole. QX_HARDENING_FULL=1: 8 x 1,000 requests; regular suite: 8 x 100.
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/Simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>

using namespace qxtest;

namespace {

const char* const kValuePrefix = "Value that had been sent to Quodrix : [";

TEST(Load, EightClientsPilotingAtOnce) {
    KillStrayDaemon();
    StopTerminals();
    TempDir work, logDir;
    const std::string journal = work.file("velo.journal");
    const std::string config = work.file("rules.dat");
    WriteFileText(config, "[Extension_Load]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.L\r\n");
    SimulatorRegistration registration({"--journal", journal});
    ASSERT_TRUE(registration.ok()) << registration.output();
    Simulator simulator;
    ASSERT_TRUE(simulator.start(journal, {"--group", "Load=Vista"}));
    Daemon daemon;
    ASSERT_TRUE(daemon.startWithLog(logDir.path()));
    ClientDll dll;
    ASSERT_TRUE(dll.loaded());
    ASSERT_EQ(dll.StartQuodrix("127.0.0.1", 7001, config.c_str()), 0);
    ASSERT_EQ(dll.AddPilotingModule("Load", "Vista"), 0);

    constexpr int kClients = 8;
    const int perClient = RunCount(100, 1000);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(clients.back()->start(Quoted(BinPath("qx_pilot_burst.exe")) + " C" + std::to_string(c) + "N " +
                                          std::to_string(perClient)));
    }
    for (auto& client : clients) EXPECT_EQ(client->wait(std::chrono::seconds(600)), 0u) << "a client failed";
    const double sendSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Every request handled, in each client's own order; the last value handed off is the one to arrive.
    std::set<std::string> handed;
    std::string last;
    for (const std::string& text : LogTexts(logDir.path())) {
        if (text.rfind(kValuePrefix, 0) != 0) continue;
        last = text.substr(std::string(kValuePrefix).size());
        last.pop_back();  // ']'
        handed.insert(last);
    }
    EXPECT_EQ(handed.size(), static_cast<std::size_t>(kClients * perClient));
    for (int c = 0; c < kClients; ++c)
        for (int i = 0; i < perClient; i += perClient / 10)
            EXPECT_TRUE(handed.count("C" + std::to_string(c) + "N" + std::to_string(i) + ".L")) << c << "/" << i;

    // One pass per request is queued; the queue drains into the window and ends with the last value.
    auto lastPilot = [&] {
        auto pilots = JournalCalls(journal, "IVistaWindow.Pilot");
        return pilots.empty() ? std::string() : pilots.back().get("value");
    };
    ASSERT_TRUE(WaitUntil([&] { return lastPilot() == last; }, std::chrono::seconds(FullRun() ? 1800 : 600),
                          std::chrono::milliseconds(500)))
        << "the last value " << last << " never reached the window; last piloted " << lastPilot();
    const double drainSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // A stop waits for every pass still queued: one per request, each sending the latest value again.
    auto stopping = std::chrono::steady_clock::now();
    ASSERT_EQ(dll.StopDaemon(), 0);
    const double stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count();
    EXPECT_EQ(daemon.process().wait(std::chrono::seconds(60)), 0u);
    const std::size_t passes = JournalCalls(journal, "IVistaWindow.Pilot").size();
    EXPECT_EQ(lastPilot(), last);
    LogWholeness whole = CheckLogWholeness(ReadFileText(FindLogFile(logDir.path())));
    EXPECT_TRUE(whole.endsWithLineEnd);
    EXPECT_EQ(whole.tornCount, 0u) << (whole.torn.empty() ? "" : whole.torn[0]);
    simulator.quit();
    StopTerminals();
    Figure("R4 %d clients x %d requests at once: all %zu handled in %.1f s (%.0f a second), the last value reached "
           "the window %.1f s after the start; StopDaemon then waited %.1f s for the queued passes (%zu in all, one "
           "per request); exit 0, %zu log lines all whole",
           kClients, perClient, handed.size(), sendSeconds, handed.size() / sendSeconds, drainSeconds, stopSeconds,
           passes, whole.lines);
}

}  // namespace
