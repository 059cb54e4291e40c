// The terminal link against the terminal simulator in another process, through real COM.
#include "daemon/log/Logger.h"
#include "daemon/proxy/ComError.h"
#include "daemon/proxy/QXLink.h"
#include "tests/support/Simulator.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace qxtest;

namespace {

// Severity tag (or trace level) and text of one log line.
using LogLine = std::pair<std::string, std::string>;

const char kNotConnected[] = "Quodrix is not connected...";
const char kLaunching[] = "Launch Quodrix at start up is checked, trying to connect Quodrix ... ";
const char kForceStart[] =
    "Force Start value set to (1) as parameter for function Init (qxlink), trying to connect Quodrix ...";
const char kNotEstablished[] = "connection to quodrix not established";
const char kClosing[] = "Quodrix is beeing closed";

std::string ConnectFailure(HRESULT hr) {
    return "Cannot connect to Quodrix: a COM Exception occured (" + ComErrorText(hr) + ")";
}

class Listener : public CQXLink::IEvents {
public:
    void OnTerminalClosed() override { ++calls; }
    std::atomic<int> calls{0};
};

class LinkSession : public ::testing::Test {
protected:
    void SetUp() override {
        KillStrayDaemon();
        StopTerminals();
        theLogger.open(logDir.path().c_str());
        ASSERT_TRUE(theLogger.isOpen());
        headerLines = SplitLines(ReadFileText(theLogger.path())).size();
        startOnPilot = true;
        terminalAvailable = true;
        reconnectCount = 3;
    }
    void TearDown() override {
        link.reset();
        StopTerminals();
        registration.reset();
        theLogger.close();
    }

    void Register(const std::vector<std::string>& options) {
        registration = std::make_unique<SimulatorRegistration>(options);
        ASSERT_TRUE(registration->ok()) << registration->output();
    }

    // Lines written after the header, as (tag, text).
    std::vector<LogLine> written() {
        std::vector<LogLine> lines;
        auto all = SplitLines(ReadFileText(theLogger.path()));
        for (std::size_t i = headerLines; i < all.size(); ++i)
            lines.emplace_back(all[i].substr(0, 2), all[i].size() > 18 ? all[i].substr(18) : std::string());
        return lines;
    }
    std::size_t calls(const std::string& call) { return JournalCalls(journal, call).size(); }

    TempDir logDir;
    TempDir dir;
    std::string journal = dir.file("velo.journal");
    std::size_t headerLines = 0;
    std::unique_ptr<SimulatorRegistration> registration;
    std::unique_ptr<CQXLink> link = std::make_unique<CQXLink>();
};

TEST_F(LinkSession, AttachesToARunningTerminalWithoutInitialisingIt) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal));
    EXPECT_TRUE(TerminalProcessRunning());

    const ULONGLONG started = GetTickCount64();
    EXPECT_TRUE(link->Connect("10.1.2.3", 7000, true));
    std::printf("attach to a running terminal: %llu ms\n", GetTickCount64() - started);
    EXPECT_TRUE(link->m_connected);
    ASSERT_TRUE(link->m_app);
    ASSERT_TRUE(link->m_sink);
    EXPECT_NE(link->m_sink->cookie(), 0u);
    EXPECT_EQ(link->m_sink->m_owner.load(), link.get());
    EXPECT_TRUE(terminalAvailable);
    EXPECT_TRUE(startOnPilot);
    EXPECT_EQ(reconnectCount, 0);
    // No launch: no log line, no Init, put_Mode or put_Active (and so no 10-second wait).
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(calls("IClassFactory.CreateInstance"), 1u);
    EXPECT_EQ(calls("IConnection.Init"), 0u);
    EXPECT_EQ(calls("IConnection.put_Mode"), 0u);
    EXPECT_EQ(calls("IApplication.put_Active"), 0u);
    auto advised = JournalCalls(journal, "IConnectionPoint.Advise");
    ASSERT_EQ(advised.size(), 1u);
    EXPECT_EQ(advised[0].get("hr"), "0x00000000");

    // Still connected and active: a second Connect returns at once and touches nothing.
    reconnectCount = 2;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    constexpr int kCalls = 200;
    for (int i = 0; i < kCalls; ++i) ASSERT_TRUE(link->Connect("10.1.2.3", 7000, true));
    QueryPerformanceCounter(&after);
    std::printf("Connect on a live link (one get_Active across processes): %.3f ms\n",
                1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                    static_cast<double>(frequency.QuadPart) / kCalls);
    EXPECT_EQ(reconnectCount, 2);
    EXPECT_EQ(calls("IConnectionPoint.Advise"), 1u);
    EXPECT_EQ(calls("IClassFactory.CreateInstance"), 1u);

    link->Dispose();
    EXPECT_FALSE(link->m_app);
    EXPECT_FALSE(link->m_sink);
    EXPECT_TRUE(link->m_connected);  // Dispose leaves it
    auto unadvised = JournalCalls(journal, "IConnectionPoint.Unadvise");
    ASSERT_EQ(unadvised.size(), 1u);
    EXPECT_EQ(unadvised[0].get("cookie"), advised[0].get("cookie"));
    EXPECT_EQ(unadvised[0].get("hr"), "0x00000000");
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkSession, AnInactiveTerminalIsConnectedAfresh) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal, {"--inactive"}));
    ASSERT_TRUE(link->Connect("h", 1, true));
    reconnectCount = 4;
    // get_Active answers 0: the link attaches again with a new object and a new sink.
    EXPECT_TRUE(link->Connect("h", 1, true));
    EXPECT_EQ(reconnectCount, 0);
    EXPECT_EQ(calls("IClassFactory.CreateInstance"), 2u);
    auto advised = JournalCalls(journal, "IConnectionPoint.Advise");
    ASSERT_EQ(advised.size(), 2u);
    EXPECT_NE(advised[0].get("cookie"), advised[1].get("cookie"));
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkSession, FrameClosingReachesTheListenerAcrossProcessesAndIsTracedOnce) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal));
    Listener listener;
    link->m_events = &listener;
    ASSERT_TRUE(link->Connect("h", 1, true));

    ASSERT_TRUE(terminal.fireFrameClosing());
    ASSERT_TRUE(WaitUntil([&] { return listener.calls.load() >= 1; }));
    ASSERT_TRUE(WaitForJournalCall(journal, "ITFrameWndEvents.FrameClosing"));
    auto fired = JournalCalls(journal, "ITFrameWndEvents.FrameClosing");
    EXPECT_EQ(fired[0].get("sinks"), "1");
    EXPECT_EQ(fired[0].get("failed"), "0");
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(written(), (std::vector<LogLine>{{" 0", kClosing}}));

    // The six other events arrive too, and leave no trace.
    ASSERT_TRUE(terminal.fireOtherEvents());
    ASSERT_TRUE(WaitForJournalCall(journal, "ITFrameWndEvents.WindowPiloted"));
    EXPECT_EQ(JournalCalls(journal, "ITFrameWndEvents.WindowPiloted")[0].get("failed"), "0");
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(written().size(), 1u);
}

TEST_F(LinkSession, FrameClosingWithoutListenerLeavesNoTrace) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal));
    ASSERT_TRUE(link->Connect("h", 1, true));
    ASSERT_TRUE(terminal.fireFrameClosing());
    ASSERT_TRUE(WaitForJournalCall(journal, "ITFrameWndEvents.FrameClosing"));
    // The journal line is written once the sink has answered.
    EXPECT_EQ(JournalCalls(journal, "ITFrameWndEvents.FrameClosing")[0].get("failed"), "0");
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkSession, ADisposedLinkHearsNoMoreEvents) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal));
    Listener listener;
    link->m_events = &listener;
    ASSERT_TRUE(link->Connect("h", 1, true));
    link->Dispose();
    ASSERT_TRUE(terminal.fireFrameClosing());
    ASSERT_TRUE(WaitForJournalCall(journal, "ITFrameWndEvents.FrameClosing"));
    EXPECT_EQ(JournalCalls(journal, "ITFrameWndEvents.FrameClosing")[0].get("sinks"), "0");
    EXPECT_EQ(listener.calls, 0);
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkSession, AProcessNamedInAnotherCaseIsNotTheTerminal) {
    UnregisterSimulator();
    const std::string lookAlike = CopySimulator(dir.path(), "velo.exe");
    ASSERT_FALSE(lookAlike.empty());
    Simulator other;
    ASSERT_TRUE(other.start(journal, {"--no-com"}, lookAlike));
    EXPECT_FALSE(TerminalProcessRunning());

    // Taken for no terminal: the launch road, which fails here since the class is not registered.
    EXPECT_FALSE(link->Connect("h", 1, true));
    auto lines = written();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (LogLine{" 0", kNotConnected}));
}

TEST_F(LinkSession, LaunchFailureLogsBothLinesAndStopsStartingOnPilot) {
    UnregisterSimulator();
    EXPECT_FALSE(link->Connect("h", 1, true));
    EXPECT_EQ(written(), (std::vector<LogLine>{
                             {" 0", kNotConnected},
                             {"WW", ConnectFailure(REGDB_E_CLASSNOTREG)},
                             {"  ", kNotEstablished},
                         }));
    EXPECT_FALSE(terminalAvailable);
    EXPECT_FALSE(startOnPilot);
    EXPECT_EQ(reconnectCount, 3);
    EXPECT_FALSE(link->m_connected);
    EXPECT_FALSE(link->m_app);
    EXPECT_FALSE(link->m_sink);
}

TEST_F(LinkSession, AttachToATerminalThatRefusesCreationFailsWithEPointer) {
    Register({"--journal", journal});
    Simulator terminal;
    ASSERT_TRUE(terminal.start(journal, {"--refuse-create"}));
    EXPECT_FALSE(link->Connect("h", 1, false));
    EXPECT_EQ(written(), (std::vector<LogLine>{
                             {"WW", ConnectFailure(E_POINTER)},
                             {"  ", kNotEstablished},
                         }));
    EXPECT_FALSE(terminalAvailable);
    EXPECT_FALSE(startOnPilot);
    EXPECT_TRUE(link->m_connected);  // set when the process was found
    EXPECT_FALSE(link->m_app);
    // The caller disposes the link; nothing to log.
    link->Dispose();
    EXPECT_FALSE(link->m_sink);
    EXPECT_EQ(written().size(), 2u);
}

TEST_F(LinkSession, InitFailureLogsOnlyTheConnectFailure) {
    // 0x80040205 has no system message: its text is the dispatch fallback.
    Register({"--journal", journal, "--fail", "IConnection.Init=0x80040205"});
    EXPECT_FALSE(link->Connect("192.0.2.7", 4242, false));
    EXPECT_EQ(written(), (std::vector<LogLine>{
                             {" 0", kNotConnected},
                             {"  ", kLaunching},
                             {"WW", "Cannot connect to Quodrix: a COM Exception occured (IDispatch error #5)"},
                         }));
    EXPECT_FALSE(terminalAvailable);
    EXPECT_TRUE(startOnPilot);
    EXPECT_EQ(reconnectCount, 3);
    EXPECT_TRUE(link->m_app);  // held until the caller disposes
    EXPECT_FALSE(link->m_sink);

    auto modes = JournalCalls(journal, "IConnection.put_Mode");
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0].get("mode"), "162");
    auto inits = JournalCalls(journal, "IConnection.Init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].get("address"), "192.0.2.7");
    EXPECT_EQ(inits[0].get("port"), "4242");
    EXPECT_EQ(inits[0].get("hr"), "0x80040205");
    EXPECT_EQ(calls("IApplication.put_Active"), 0u);

    link->Dispose();
    EXPECT_FALSE(link->m_app);
    EXPECT_EQ(written().size(), 3u);
}

TEST_F(LinkSession, FailingUnadviseInDisposeIsLoggedAndTheDestructorFinishes) {
    Register({"--journal", journal});
    Simulator terminal;
    // The second lookup of the connection point (the one Dispose makes) answers success with nothing.
    ASSERT_TRUE(terminal.start(journal, {"--fail", "IConnectionPointContainer.FindConnectionPoint@2=null"}));
    ASSERT_TRUE(link->Connect("h", 1, true));
    link->Dispose();
    EXPECT_EQ(written(), (std::vector<LogLine>{
                             {"EE", "Disposing Quodrix Connection: a COM Exception occured (" +
                                        ComErrorText(E_POINTER) + ")"},
                         }));
    // The remaining steps were skipped; the destructor disposes again and lets go of everything.
    EXPECT_TRUE(link->m_sink);
    EXPECT_TRUE(link->m_app);
    link.reset();
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Unadvise"));
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise")[0].get("hr"), "0x00000000");
    EXPECT_EQ(written().size(), 1u);
}

// Pays the terminal's fixed 10-second start-up wait.
TEST_F(LinkSession, LaunchesTheTerminalThroughCom) {
    Register({"--journal", journal});
    ASSERT_TRUE(TerminalPids().empty());
    Listener listener;
    link->m_events = &listener;

    const ULONGLONG started = GetTickCount64();
    EXPECT_TRUE(link->Connect("192.168.1.20", 6000, true));
    const ULONGLONG elapsed = GetTickCount64() - started;
    std::printf("launch through COM and Connect: %llu ms\n", elapsed);

    EXPECT_EQ(written(), (std::vector<LogLine>{
                             {" 0", kNotConnected},
                             {"  ", kLaunching},
                             {"  ", kForceStart},
                             {"  ", "IP Address defined in general settings : 192.168.1.20 "},
                             {"  ", "Port defined in general settings : 6000 "},
                         }));
    EXPECT_TRUE(link->m_connected);
    EXPECT_TRUE(terminalAvailable);
    EXPECT_TRUE(startOnPilot);
    EXPECT_EQ(reconnectCount, 0);
    ASSERT_TRUE(link->m_sink);
    EXPECT_NE(link->m_sink->cookie(), 0u);

    // COM started Velo.exe, and it received exactly this, in this order.
    auto entries = ReadJournal(journal);
    std::vector<std::string> order;
    for (const auto& entry : entries) {
        if (entry.call == "Velo.Start") {
            EXPECT_EQ(entry.get("embedding"), "1");
        }
        if (entry.call != "Velo.Start" && entry.call != "IClassFactory.CreateInstance") order.push_back(entry.call);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"IConnection.put_Mode", "IConnection.Init", "IApplication.put_Active",
                                               "IConnectionPoint.Advise"}));
    EXPECT_EQ(JournalCalls(journal, "IConnection.put_Mode")[0].get("mode"), "162");
    auto init = JournalCalls(journal, "IConnection.Init");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].get("address"), "192.168.1.20");
    EXPECT_EQ(init[0].get("port"), "6000");
    EXPECT_EQ(init[0].get("user"), "");
    EXPECT_EQ(init[0].get("password"), "");
    EXPECT_EQ(init[0].get("options"), "");
    EXPECT_EQ(JournalCalls(journal, "IApplication.put_Active")[0].get("active"), "-1");
    EXPECT_EQ(TerminalPids().size(), 1u);

    // The launched terminal's frame window closing reaches the listener.
    ASSERT_TRUE(SignalTerminal(TerminalPids().at(0), "FrameClosing"));
    ASSERT_TRUE(WaitUntil([&] { return listener.calls.load() >= 1; }));
    EXPECT_EQ(written().back(), (LogLine{" 0", kClosing}));
}

}  // namespace
