// The whole chain: client library, daemon, proxy thread, terminal link, piloting pass and the terminal
// simulator, asserted on the simulator's journal and the daemon's log.
#include "tests/chain/ChainFixture.h"
#include "tests/support/ProxyLogLines.h"

#include "common/QXRequests.h"

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string SentLine(const std::string& value) { return "Value sent to quodrix : [" + value + "]"; }

std::string PassFailureLine(const std::string& value, HRESULT hr) {
    return "Piloting Quodrix by Symbol (" + value + "): a COM Exception occured (" + ComErrorText(hr) + ")";
}

std::string WindowFailureLine(const std::string& value, HRESULT hr) {
    return "Piloting Quodrix by Symbol (" + value + "): a COM Exception occured while pilotinga service (" +
           ComErrorText(hr) + "), continuing to pilot other services";
}

// The journal's calls that shape a pass, in order.
std::vector<std::string> PassCalls(const std::string& journal) {
    std::vector<std::string> calls;
    for (const JournalEntry& entry : ReadJournal(journal)) {
        const std::string& c = entry.call;
        if (c == "IGroups.Add" || c == "IGroup.Activate" || c == "IWindows.Add" ||
            (c.size() > 6 && c.compare(c.size() - 6, 6, ".Pilot") == 0))
            calls.push_back(c);
    }
    return calls;
}

using ChainTest = ChainSessionTest;

TEST_F(ChainTest, StartThenPilotAttachesAndEveryKeyTypeReachesTheWindow) {
    Prepare({"--group", "Desk=FullQuote"}, {{"Desk", "FullQuote"}});
    const std::vector<std::pair<ClientLibrary::Instrument, std::string>> pilots = {
        {IsinInstrument(), "ISIN=FR0000120271.PA"},
        {IsinCurrencyInstrument(), "ISINC=FR0000120271EUR.PA"},
        {KtvidInstrument(), "KTV=004000501000ENI"},
        {SymbolInstrument(), "VOD.L"},
        {LongValueInstrument(), LongValue()},
    };
    std::vector<std::string> expected;
    for (const auto& [instrument, value] : pilots) {
        Pilot(instrument);
        expected.push_back("IFullQuoteWindow.Pilot G1W1 " + value);
        ASSERT_TRUE(WaitForPilotCount(journal, expected.size())) << value;
    }
    EXPECT_EQ(PilotCalls(journal), expected);
    EXPECT_EQ(LongValue().size(), 300u);

    // Attached to the running terminal: no launch, one connection.
    EXPECT_EQ(CountLogText(logDir.path(), kStartReceived), 1u);
    EXPECT_EQ(CountLogText(logDir.path(), " forceStart value is 1"), 1u);
    EXPECT_THAT(JournalCalls(journal, "IConnection.Init"), IsEmpty());
    EXPECT_EQ(JournalCalls(journal, "IClassFactory.CreateInstance").size(), 1u);
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 1u);
    ASSERT_TRUE(WaitForLogCount(logDir.path(), SentLine("VOD.L"), 1));
}

TEST_F(ChainTest, MissingGroupOfVistaAndChartIsCreatedAndBothNewWindowsPilotedInTheSamePass) {
    Prepare({}, {{"Desk", "Vista"}, {"Desk", "Chart"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 2));

    EXPECT_THAT(CallFields(journal, "IGroups.Add", {"name", "flags", "key", "hr"}),
                ElementsAre("name=Desk flags=0 key=G1 hr=0x00000000"));
    EXPECT_THAT(CallFields(journal, "IWindows.Add", {"group", "kind", "settings", "key", "hr"}),
                ElementsAre("group=G1 kind=1 settings=1x2:INT:1,BSTR:Piloted key=G1W1 hr=0x00000000",
                            "group=G1 kind=6 settings=1x2:INT:1,BSTR:Piloted key=G1W2 hr=0x00000000"));
    EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 VOD.L", "IChartWindow.Pilot G1W2 VOD.L"));
    EXPECT_THAT(PassCalls(journal), ElementsAre("IGroups.Add", "IGroup.Activate", "IWindows.Add", "IWindows.Add",
                                                "IVistaWindow.Pilot", "IChartWindow.Pilot"));
    EXPECT_TRUE(WaitForLogCount(logDir.path(), SentLine("VOD.L"), 2));
}

TEST_F(ChainTest, AllWindowsModulesCreateNothingAndPilotEveryWindowNewsWithTheEmptyTextFirst) {
    // Ghost has no group; Mixed (All and News) comes after it in byte order.
    Prepare({"--group", "Mixed=Chart,News,TimeSales,FullQuote"}, {{"Ghost", "All"}, {"Mixed", "News"}, {"Mixed", "All"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 4));

    EXPECT_THAT(PilotCalls(journal),
                ElementsAre("IChartWindow.Pilot G1W1 VOD.L", "INewsWindow.Pilot G1W2 () VOD.L",
                            "ITimeSalesWindow.Pilot G1W3 VOD.L", "IFullQuoteWindow.Pilot G1W4 VOD.L"));
    EXPECT_THAT(JournalCalls(journal, "IGroups.Add"), IsEmpty());
    EXPECT_THAT(JournalCalls(journal, "IWindows.Add"), IsEmpty());
    EXPECT_THAT(CallFields(journal, "IGroup.Activate", {"group", "name"}), ElementsAre("group=G1 name=Mixed"));
}

TEST_F(ChainTest, WindowsOfTheKindArePilotedInListOrderAndTheLaterGroupOfTheNameWins) {
    Prepare({"--group", "Books=OrderBook,OrderBook", "--group", "Twice=Vista", "--group", "Twice=Vista"},
            {{"Books", "OrderBook"}, {"Twice", "Vista"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 3));

    EXPECT_THAT(PilotCalls(journal), ElementsAre("IOrderBookWindow.Pilot G1W1 VOD.L", "IOrderBookWindow.Pilot G1W2 VOD.L",
                                                 "IVistaWindow.Pilot G3W1 VOD.L"));
    EXPECT_THAT(CallFields(journal, "IGroup.Activate", {"group"}), ElementsAre("group=G1", "group=G3"));
    EXPECT_THAT(JournalCalls(journal, "IGroups.Add"), IsEmpty());
    EXPECT_THAT(JournalCalls(journal, "IWindows.Add"), IsEmpty());
}

TEST_F(ChainTest, OneWindowsPilotFailingIsLoggedAndTheNextWindowStillPiloted) {
    Prepare({"--group", "Desk=Vista,Vista,Vista", "--fail", "IVistaWindow.Pilot:G1W2=0x80004005"}, {{"Desk", "Vista"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 3));
    ASSERT_TRUE(WaitForLogCount(logDir.path(), SentLine("VOD.L"), 2));

    EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 VOD.L",
                                                 "IVistaWindow.Pilot G1W2 VOD.L hr=0x80004005",
                                                 "IVistaWindow.Pilot G1W3 VOD.L"));
    EXPECT_THAT(LogLinesStartingWith(logDir.path(), {"Piloting Quodrix by Symbol", "Value sent", "RPC Error"}),
                ElementsAre(SentLine("VOD.L"), WindowFailureLine("VOD.L", E_FAIL), SentLine("VOD.L")));
}

TEST_F(ChainTest, FailingWindowCreationReconnectsAndPilotsTheSameValueAgain) {
    // Alpha is piloted before Desk's first window creation fails; the second creation succeeds.
    Prepare({"--group", "Alpha=Vista", "--fail", "IWindows.Add@1=0x80004005"},
            {{"Alpha", "Vista"}, {"Desk", "Vista"}, {"Desk", "Chart"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 4));

    EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 VOD.L", "IVistaWindow.Pilot G1W1 VOD.L",
                                                 "IVistaWindow.Pilot G2W1 VOD.L", "IChartWindow.Pilot G2W2 VOD.L"));
    EXPECT_THAT(CallFields(journal, "IGroups.Add", {"name", "key"}), ElementsAre("name=Desk key=G2"));
    EXPECT_THAT(CallFields(journal, "IWindows.Add", {"kind", "hr"}),
                ElementsAre("kind=1 hr=0x80004005", "kind=1 hr=0x00000000", "kind=6 hr=0x00000000"));
    EXPECT_THAT(LogLinesStartingWith(logDir.path(), {"Piloting Quodrix by Symbol", "RPC Error"}),
                ElementsAre(PassFailureLine("VOD.L", E_FAIL), kRpcError));
    // Disconnected and connected again on the same thread, which then ends (its link disposed once more).
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 2u);
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Unadvise", 2));
    EXPECT_EQ(CountLogText(logDir.path(), kStartReceived), 1u);

    // The next request starts a new thread that connects afresh.
    Pilot(IsinInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 7));
    EXPECT_EQ(PilotCalls(journal).back(), "IChartWindow.Pilot G2W2 ISIN=FR0000120271.PA");
    EXPECT_EQ(CountLogText(logDir.path(), kStartReceived), 2u);
}

TEST_F(ChainTest, SixFailedPassesInARowExhaustTheReconnectionsThroughTheLaunchRoad) {
    // No terminal runs: the start request launches one through COM, and the six pilot requests queue behind
    // the launch's fixed wait.
    registration.reset();
    registration = std::make_unique<SimulatorRegistration>(
        std::vector<std::string>{"--journal", journal, "--fail", "IWindows.Add=0x80004005"});
    ASSERT_TRUE(registration->ok()) << registration->output();
    StartDaemon();
    Start();
    AddModule("Desk", "Vista");
    for (int i = 0; i < 6; ++i) Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitUntil([&] { return CountLogText(logDir.path(), kMaximumReached) >= 1; }, std::chrono::seconds(60)));
    ASSERT_EQ(client.StopDaemon(), 0);
    ASSERT_EQ(daemon.process().wait(), 0u);

    EXPECT_THAT(LogLinesStartingWith(logDir.path(), {"Launch Quodrix", "Force Start", "IP Address", "Port defined"}),
                ElementsAre("Launch Quodrix at start up is checked, trying to connect Quodrix ... ",
                            "Force Start value set to (1) as parameter for function Init (qxlink), trying to connect "
                            "Quodrix ...",
                            "IP Address defined in general settings : 127.0.0.1 ",
                            "Port defined in general settings : 7001 "));
    EXPECT_THAT(CallFields(journal, "IConnection.put_Mode", {"mode"}), ElementsAre("mode=162"));
    EXPECT_THAT(CallFields(journal, "IConnection.Init", {"address", "port", "user", "password", "options"}),
                ElementsAre("address=127.0.0.1 port=7001 user= password= options="));
    EXPECT_THAT(CallFields(journal, "IApplication.put_Active", {"active"}), ElementsAre("active=-1"));

    // Six passes failed one after the other; every reconnection request was then refused: no further pass.
    EXPECT_EQ(CountLogText(logDir.path(), PassFailureLine("VOD.L", E_FAIL)), 6u);
    EXPECT_EQ(CountLogText(logDir.path(), kRpcError), 6u);
    EXPECT_EQ(CountLogText(logDir.path(), kMaximumReached), 6u);
    EXPECT_EQ(JournalCalls(journal, "IWindows.Add").size(), 6u);
    EXPECT_EQ(JournalCalls(journal, "IGroups.Add").size(), 1u);
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Advise").size(), 1u);
    EXPECT_EQ(CountLogText(logDir.path(), kStartReceived), 1u);
}

TEST_F(ChainTest, TerminalClosingItsFrameEndsTheThreadAndTheNextPilotConnectsAfresh) {
    Prepare({"--group", "Desk=Vista"}, {{"Desk", "Vista"}});
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 1));

    ASSERT_TRUE(simulator.fireFrameClosing());
    ASSERT_TRUE(WaitForLogText(logDir.path(), "Quodrix is beeing closed"));
    ASSERT_TRUE(WaitForJournalCall(journal, "IConnectionPoint.Unadvise", 1));

    // A request that meets the thread while it ends is not delivered (the thread is going); the first one
    // handled after it has gone starts a new thread.
    bool reconnected = false;
    for (int attempt = 0; attempt < 20 && !reconnected; ++attempt) {
        Pilot(IsinInstrument());
        reconnected = WaitForJournalCall(journal, "IConnectionPoint.Advise", 2, std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(reconnected);
    ASSERT_TRUE(WaitForPilotCount(journal, 2));
    EXPECT_EQ(PilotCalls(journal).back(), "IVistaWindow.Pilot G1W1 ISIN=FR0000120271.PA");
    EXPECT_EQ(CountLogText(logDir.path(), kStartReceived), 2u);
    EXPECT_EQ(JournalCalls(journal, "IClassFactory.CreateInstance").size(), 2u);
}

TEST_F(ChainTest, StopDaemonReturnsOnlyAfterTheProxyThreadHasEnded) {
    StartSimulator({"--group", "Desk=Vista"});
    ASSERT_EQ(client.StartDaemon(logDir.path()), 0);
    const DWORD pid = DaemonWindowPid();
    ASSERT_NE(pid, 0u);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(process, nullptr);
    Start();
    AddModule("Desk", "Vista");
    Pilot(SymbolInstrument());
    ASSERT_TRUE(WaitForPilotCount(journal, 1));

    ASSERT_EQ(client.StopDaemon(), 0);
    // The thread let go of the terminal before the stop returned.
    EXPECT_EQ(JournalCalls(journal, "IConnectionPoint.Unadvise").size(), 1u);
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    EXPECT_EQ(code, 0u);
    std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Exiting QXPilot");
}

}  // namespace
