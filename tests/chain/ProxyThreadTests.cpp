// The proxy thread in this process, against the terminal simulator: its start and stop, its queue, the
// reconnection limit and the terminal closing its frame. Holding theProxyData.m_lock keeps a new thread
// from getting past its connection, so that the messages meant to queue behind it are queued for sure.
#include "tests/chain/ChainFixture.h"
#include "tests/support/ProxyLogLines.h"

#include "daemon/log/Logger.h"
#include "daemon/piloting/ModuleRegistry.h"
#include "daemon/piloting/Piloting.h"
#include "daemon/proxy/ProxyData.h"
#include "daemon/proxy/ProxyThread.h"
#include "daemon/proxy/QXProxy.h"

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ProxyThreadTest : public ChainSessionTest {
protected:
    void SetUp() override {
        ChainSessionTest::SetUp();
        if (HasFatalFailure()) return;
        theLogger.open(logDir.path().c_str());
        startOnPilot = true;
        terminalAvailable = true;
        reconnectCount = 0;
        ClearPilotingModules();
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_address = "127.0.0.1";
        theProxyData.m_port = 7001;
        theProxyData.m_pendingValue.clear();
    }
    void TearDown() override {
        StopProxyThread();
        theLogger.close();
        ChainSessionTest::TearDown();
    }

    static DWORD ThreadId() { return theProxyData.threadId(); }
    static void Post(UINT message) { PostThreadMessageA(ThreadId(), message, 0, 0); }
    bool WaitForThreadEnd() {
        return WaitUntil([] { return ThreadId() == 0; }, std::chrono::seconds(20));
    }
    std::size_t Count(const std::string& text) { return CountLogText(logDir.path(), text); }
};

TEST_F(ProxyThreadTest, TwoStartsMakeOneThreadAndOneStartMessageAndStopWaitsForItsEnd) {
    StartSimulator({"--group", "Desk=Vista"});
    StartProxyThread(true);
    const DWORD first = ThreadId();
    ASSERT_NE(first, 0u);
    StartProxyThread(true);
    EXPECT_EQ(ThreadId(), first);
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Advise"));

    StopProxyThread();
    EXPECT_EQ(ThreadId(), 0u);
    EXPECT_EQ(theProxyData.threadHandle(), nullptr);
    // Disposed before the stop returned.
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 1u);
    EXPECT_EQ(Count(kStartReceived), 1u);
    EXPECT_EQ(Count(" forceStart value is 1"), 1u);

    // With no thread a stop returns at once and posts nothing.
    StopProxyThread();
    EXPECT_EQ(Count(kStartReceived), 1u);
}

TEST_F(ProxyThreadTest, WithoutForceNoThreadStartsWhileTheTerminalIsUnavailable) {
    terminalAvailable = false;
    StartProxyThread(false);
    EXPECT_EQ(ThreadId(), 0u);
    EXPECT_EQ(Count(kStartReceived), 0u);
}

TEST_F(ProxyThreadTest, SeveralPilotsQueuedBeforeTheFirstIsHandledEachSendTheLatestValue) {
    StartSimulator({"--group", "Desk=Vista"});
    ASSERT_TRUE(RegisterPilotingModule("Desk", "Vista"));
    {
        CriticalSectionGuard hold(theProxyData.m_lock);
        StartProxyThread(true);
        PostPilotingValue("FIRST");
        PostPilotingValue("SECOND");
        PostPilotingValue("THIRD");
    }
    ASSERT_TRUE(WaitForPilotCount(journal, 3));
    EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 THIRD", "IVistaWindow.Pilot G1W1 THIRD",
                                                 "IVistaWindow.Pilot G1W1 THIRD"));
}

TEST_F(ProxyThreadTest, PilotQueuedBehindAStopFindsTheLinkDisposed) {
    StartSimulator({"--group", "Desk=Vista"});
    ASSERT_TRUE(RegisterPilotingModule("Desk", "Vista"));
    {
        CriticalSectionGuard hold(theProxyData.m_lock);
        StartProxyThread(true);
        theProxyData.m_pendingValue = "VOD.L";
        Post(QXPROXY_MSG_STOP);
        Post(QXPROXY_MSG_PILOT);
    }
    ASSERT_TRUE(WaitForThreadEnd());
    StopProxyThread();
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_EQ(Count(kNotConnected), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 1u);
}

TEST_F(ProxyThreadTest, SixQueuedPassesFailingOneAfterTheOtherExhaustTheReconnections) {
    StartSimulator({"--fail", "IWindows.Add=0x80004005"});
    ASSERT_TRUE(RegisterPilotingModule("Desk", "Vista"));
    {
        CriticalSectionGuard hold(theProxyData.m_lock);
        StartProxyThread(true);
        for (int i = 0; i < 6; ++i) PostPilotingValue("VOD.L");
    }
    ASSERT_TRUE(WaitForThreadEnd());
    StopProxyThread();

    EXPECT_EQ(reconnectCount, 6);
    EXPECT_EQ(Count("Piloting Quodrix by Symbol (VOD.L): a COM Exception occured (" + ComErrorText(E_FAIL) + ")"), 6u);
    // Every queued reconnection request is refused; none connects or pilots again.
    EXPECT_EQ(Count(kMaximumReached), 6u);
    EXPECT_EQ(JournalCalls(journal, "IWindows.Add").size(), 6u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 1u);
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
}

TEST_F(ProxyThreadTest, ReconnectionAtFiveStillConnectsAndPilotsAtSixItIsRefused) {
    StartSimulator({"--group", "Desk=Vista"});
    ASSERT_TRUE(RegisterPilotingModule("Desk", "Vista"));
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_pendingValue = "VOD.L";
    }
    // The handlers run on this thread; their posts to the (absent) thread's id go nowhere.
    CQXProxy proxy;
    MSG reconnect{};
    reconnect.message = QXPROXY_MSG_RECONNECT;

    reconnectCount = 5;
    HandleProxyMessage(proxy, reconnect);
    EXPECT_EQ(reconnectCount, 0);
    EXPECT_TRUE(proxy.m_comInitialized);
    EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 VOD.L"));

    reconnectCount = 6;
    HandleProxyMessage(proxy, reconnect);
    EXPECT_FALSE(proxy.m_comInitialized);
    EXPECT_EQ(PilotCalls(journal).size(), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 1u);
    EXPECT_EQ(Count(kMaximumReached), 1u);

    // Only the low 16 bits of the start message's wParam are the force start.
    MSG start{};
    start.message = QXPROXY_MSG_START;
    start.wParam = 0x10000;
    HandleProxyMessage(proxy, start);
    EXPECT_EQ(Count(" forceStart value is 0"), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 2u);
    MSG stop{};
    stop.message = QXPROXY_MSG_STOP;
    HandleProxyMessage(proxy, stop);
    EXPECT_FALSE(proxy.m_comInitialized);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 2u);
}

TEST_F(ProxyThreadTest, TerminalClosingEndsTheThreadAndTheNextStartConnectsAfresh) {
    StartSimulator({"--group", "Desk=Vista"});
    StartProxyThread(true);
    const DWORD first = ThreadId();
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Advise"));
    ASSERT_TRUE(simulator.fireFrameClosing());
    ASSERT_TRUE(WaitForThreadEnd());
    EXPECT_EQ(Count("Quodrix is beeing closed"), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 1u);

    StartProxyThread(true);
    EXPECT_NE(ThreadId(), 0u);
    EXPECT_NE(ThreadId(), first);
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Advise", 2));
    EXPECT_EQ(Count(kStartReceived), 2u);
}

TEST_F(ProxyThreadTest, FailedConnectionEndsTheThread) {
    // No terminal runs and the class refuses to be created: the launch fails at once.
    registration.reset();
    registration = std::make_unique<SimulatorRegistration>(
        std::vector<std::string>{"--journal", journal, "--refuse-create=0x80004005"});
    ASSERT_TRUE(registration->ok()) << registration->output();
    StartProxyThread(true);
    ASSERT_TRUE(WaitForThreadEnd());
    StopProxyThread();
    EXPECT_THAT(LogLinesStartingWith(logDir.path(), {"Cannot connect", "connection to quodrix"}),
                ElementsAre("Cannot connect to Quodrix: a COM Exception occured (" + ComErrorText(E_FAIL) + ")",
                            "connection to quodrix not established"));
    EXPECT_THAT(CallFields(journal, "IClassFactory.CreateInstance", {"hr"}), ElementsAre("hr=0x80004005"));
    EXPECT_FALSE(startOnPilot);
    EXPECT_FALSE(terminalAvailable);
    // A piloting request now only stores its value.
    PostPilotingValue("VOD.L");
    EXPECT_EQ(ThreadId(), 0u);
}

}  // namespace
