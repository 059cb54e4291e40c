// The link's event sink under fire: the terminal simulator advises it, fires events at it from its own thread
// and drops it again, hundreds of times, with the events racing the unadvise. The sink is a COM object of
// this process served to the terminal; when the terminal lets go of it just as an event call on it ends,
// nothing here may wait on that call for good.
#include "daemon/log/Logger.h"
#include "daemon/proxy/QXLink.h"
#include "tests/support/Simulator.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace qxtest;

namespace {

class CountingListener : public CQXLink::IEvents {
public:
    void OnTerminalClosed() override { ++calls; }
    std::atomic<int> calls{0};
};

// Pulls the simulator's event triggers over and over until destroyed.
class EventStorm {
public:
    explicit EventStorm(Simulator& simulator)
        : m_thread([this, &simulator] {
              while (m_running) {
                  simulator.fireOtherEvents();
                  simulator.fireFrameClosing();
                  Sleep(1);
              }
          }) {}
    ~EventStorm() {
        m_running = false;
        m_thread.join();
    }
    EventStorm(const EventStorm&) = delete;
    EventStorm& operator=(const EventStorm&) = delete;

private:
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

std::size_t CountWithResult(const std::vector<JournalEntry>& entries, const std::string& hr) {
    std::size_t n = 0;
    for (const auto& entry : entries) n += entry.get("hr") == hr ? 1 : 0;
    return n;
}

}  // namespace

TEST(EventSinkStress, AdvisedFiredAtAndDroppedOverAndOverTheSinkNeverHoldsAnyone) {
    KillStrayDaemon();
    StopTerminals();
    TempDir dir;
    TempDir logDir;
    theLogger.open(logDir.path().c_str());
    const std::string journal = dir.file("velo.journal");
    SimulatorRegistration registration({"--journal", journal});
    ASSERT_TRUE(registration.ok()) << registration.output();
    Simulator simulator;
    ASSERT_TRUE(simulator.start(journal)) << "Velo.exe did not come up";

    constexpr int kCycles = 300;
    CountingListener listener;
    int attached = 0;
    {
        EventStorm storm(simulator);
        for (int i = 0; i < kCycles; ++i) {
            CQXLink link;
            link.m_events = &listener;
            if (link.Connect("127.0.0.1", 7001, false)) ++attached;
            link.Dispose();
            link.DetachListener();
        }
    }
    EXPECT_EQ(attached, kCycles);

    // Every sink was advised and unadvised, each answered, and the events reached the sinks meanwhile.
    auto advised = JournalCalls(journal, "IConnectionPoint.Advise");
    auto unadvised = JournalCalls(journal, "IConnectionPoint.Unadvise");
    EXPECT_EQ(advised.size(), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(unadvised.size(), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(CountWithResult(advised, "0x00000000"), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(CountWithResult(unadvised, "0x00000000"), static_cast<std::size_t>(kCycles));
    std::size_t deliveries = 0;
    for (const auto& entry : JournalCalls(journal, "ITFrameWndEvents.FrameResized"))
        deliveries += entry.get("sinks") != "0" && entry.get("failed") == "0" ? 1 : 0;
    EXPECT_GT(deliveries, 0u);
    EXPECT_GT(listener.calls.load(), 0);
    std::printf("[figures] %d cycles, %zu FrameResized deliveries, %d FrameClosing calls reached the listener\n",
                kCycles, deliveries, listener.calls.load());

    EXPECT_EQ(simulator.quit(), 0u);
    theLogger.close();
}
