// One piloting pass (CQXLink::Pilot) run on this thread over a link attached to the terminal simulator:
// what each failure costs, windows without their interface, unusual kinds, long and 8-bit values.
#include "tests/chain/ChainFixture.h"
#include "tests/support/ProxyLogLines.h"

#include "daemon/log/Logger.h"
#include "daemon/proxy/ProxyData.h"
#include "daemon/proxy/QXLink.h"

#include <objbase.h>

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Apartment {
public:
    Apartment() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    HRESULT m_hr;
};

class PassTest : public ChainSessionTest {
protected:
    void SetUp() override {
        ChainSessionTest::SetUp();
        if (HasFatalFailure()) return;
        theLogger.open(logDir.path().c_str());
        reconnectCount = 0;
        // Reconnection requests of the pass land in this thread's queue.
        MSG message;
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_threadId = GetCurrentThreadId();
    }
    void TearDown() override {
        link.reset();
        {
            CriticalSectionGuard guard(theProxyData.m_lock);
            theProxyData.m_threadId = 0;
        }
        ReconnectRequests();
        theLogger.close();
        ChainSessionTest::TearDown();
    }

    // A terminal with `options`, and a link attached to it.
    void Attach(const std::vector<std::string>& options) {
        link.reset();
        simulator.quit();
        StartSimulator(options);
        link = std::make_unique<CQXLink>();
        ASSERT_TRUE(link->Connect("127.0.0.1", 7001, true));
    }

    // The reconnection requests posted to this thread since the last call.
    int ReconnectRequests() {
        int count = 0;
        MSG message;
        while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), QXPROXY_MSG_RECONNECT, QXPROXY_MSG_RECONNECT,
                            PM_REMOVE))
            ++count;
        return count;
    }

    // The log lines written by passes.
    std::vector<std::string> PassLines() {
        return LogLinesStartingWith(logDir.path(), {"Piloting Quodrix", "Value sent", "RPC Error", "Quodrix found"});
    }

    Apartment apartment;
    std::unique_ptr<CQXLink> link;
};

TEST_F(PassTest, EmptyRegistryPilotsNothing) {
    Attach({"--group", "Desk=Vista"});
    EXPECT_TRUE(link->Pilot("VOD.L", {}));
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_THAT(PassLines(), IsEmpty());
    EXPECT_EQ(ReconnectRequests(), 0);
}

TEST_F(PassTest, TerminalWithoutServerConnectionOrDisposedLinkIsNotPiloted) {
    Attach({"--group", "Desk=Vista", "--not-connected"});
    EXPECT_FALSE(link->Pilot("VOD.L", {{"Desk", {1}}}));
    Attach({"--group", "Desk=Vista"});
    link->Dispose();
    EXPECT_FALSE(link->Pilot("VOD.L", {{"Desk", {1}}}));

    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_THAT(PassLines(), ElementsAre(kNotConnected, kNotConnected));
    EXPECT_EQ(ReconnectRequests(), 0);
    EXPECT_EQ(reconnectCount, 0);
}

struct FailureCase {
    const char* fault;       // the simulator's --fail rule
    HRESULT hr;              // what the pass logs
    bool perWindow;          // only the window is skipped; otherwise the pass is abandoned
    std::vector<std::string> pilots;
};

TEST_F(PassTest, FailuresInsideAWindowSkipItAnyOtherAbandonsThePassAndAsksForReconnection) {
    // Alpha (G1: Vista, Vista) is piloted before Desk (G2: Vista). get_Kind of G1W1 is called three times by a
    // pass: for the kinds present, for the selection and inside the window's piloting.
    const std::vector<std::string> all = {"IVistaWindow.Pilot G1W1 V", "IVistaWindow.Pilot G1W2 V",
                                          "IVistaWindow.Pilot G2W1 V"};
    const FailureCase cases[] = {
        {"IVistaWindow.Pilot:G1W1=0x80004005", E_FAIL, true,
         {"IVistaWindow.Pilot G1W1 V hr=0x80004005", all[1], all[2]}},
        {"IWindow.get_Kind:G1W1@3=0x80070057", E_INVALIDARG, true, {all[1], all[2]}},
        {"IWindow.get_Kind:G1W1@2=0x80070057", E_INVALIDARG, false, {}},
        {"IWindow.get_Kind:G1W1@1=0x80070057", E_INVALIDARG, false, {}},
        {"IWindows.get_Item:G1W2=0x80070057", E_INVALIDARG, false, {}},
        {"IGroup.Activate:G2=0x80004005", E_FAIL, false, {all[0], all[1]}},
        {"IGroup.get_Windows:G2=null", E_POINTER, false, {all[0], all[1]}},
        {"IWindows.get_List:G2=null", E_POINTER, false, {all[0], all[1]}},
        {"IWindows.get_Count:G2=0x80004005", E_FAIL, false, {all[0], all[1]}},
        {"IGroups.get_List=0x800706BA", static_cast<HRESULT>(0x800706BA), false, {}},
        {"IGroups.get_Item:G2=null", E_POINTER, false, {all[0], all[1]}},
        {"IApplication.get_Groups@2=0x80004005", E_FAIL, false, {all[0], all[1]}},
        {"IConnection.get_Connected=0x800706BA", static_cast<HRESULT>(0x800706BA), false, {}},
        {"IApplication.get_Connection=null", E_POINTER, false, {}},
    };
    int number = 0;
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.fault);
        // A journal and a log of its own for each case.
        journal = work.file("velo" + std::to_string(++number) + ".journal");
        TempDir caseLog;
        theLogger.close();
        theLogger.open(caseLog.path().c_str());
        reconnectCount = 0;
        Attach({"--group", "Alpha=Vista,Vista", "--group", "Desk=Vista", "--fail", c.fault});
        if (HasFatalFailure()) break;

        EXPECT_TRUE(link->Pilot("V", {{"Alpha", {1}}, {"Desk", {1}}}));
        EXPECT_EQ(PilotCalls(journal), c.pilots);
        const std::string text = ComErrorText(c.hr);
        if (c.perWindow) {
            EXPECT_EQ(CountLogText(caseLog.path(), "Piloting Quodrix by Symbol (V): a COM Exception occured while "
                                                   "pilotinga service (" + text + "), continuing to pilot other services"),
                      1u);
            EXPECT_EQ(CountLogText(caseLog.path(), "Value sent to quodrix : [V]"), 2u);
            EXPECT_EQ(ReconnectRequests(), 0);
            EXPECT_EQ(reconnectCount, 0);
        } else {
            EXPECT_THAT(LogLinesStartingWith(caseLog.path(), {"Piloting Quodrix", "RPC Error"}),
                        ElementsAre("Piloting Quodrix by Symbol (V): a COM Exception occured (" + text + ")", kRpcError));
            EXPECT_EQ(ReconnectRequests(), 1);
            EXPECT_EQ(reconnectCount, 1);
        }
        link.reset();
        theLogger.close();
    }
    theLogger.open(logDir.path().c_str());
}

TEST_F(PassTest, ListOfTheWrongElementTypeAbandonsThePass) {
    Attach({"--group", "Desk=Vista", "--bad-list", "IWindows"});
    EXPECT_TRUE(link->Pilot("V", {{"Desk", {1}}}));
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_THAT(PassLines(), ElementsAre("Piloting Quodrix by Symbol (V): a COM Exception occured (" +
                                             ComErrorText(DISP_E_BADVARTYPE) + ")",
                                         kRpcError));
    EXPECT_EQ(ReconnectRequests(), 1);
}

TEST_F(PassTest, ListCellsHoldingNothingReadAsTheEmptyTextAnyOtherTypeAbandonsThePass) {
    // Trader's name cell holds VT_EMPTY, then VT_NULL: the group's name reads as the empty text, so the module
    // of the empty name pilots Trader's window, and Trader's own module finds no group and makes one.
    for (const char* type : {"empty", "null"}) {
        SCOPED_TRACE(type);
        journal = work.file(std::string("velo_") + type + ".journal");
        Attach({"--group", "Trader=Vista", "--list-cell", std::string("IGroups:0:0=") + type});
        if (HasFatalFailure()) return;
        EXPECT_TRUE(link->Pilot("V", {{"", {-1}}, {"Trader", {1}}}));
        EXPECT_THAT(CallFields(journal, "IGroups.Add", {"name", "key"}), ElementsAre("name=Trader key=G2"));
        EXPECT_THAT(PilotCalls(journal), ElementsAre("IVistaWindow.Pilot G1W1 V", "IVistaWindow.Pilot G2W1 V"));
        EXPECT_EQ(ReconnectRequests(), 0);
    }
    // A number where a text is expected is never read as one.
    journal = work.file("velo_int.journal");
    Attach({"--group", "Trader=Vista", "--list-cell", "IWindows:0:2=int"});
    if (HasFatalFailure()) return;
    EXPECT_TRUE(link->Pilot("W", {{"Trader", {1}}}));
    EXPECT_THAT(PilotCalls(journal), IsEmpty());
    EXPECT_THAT(LogLinesStartingWith(logDir.path(), {"Piloting Quodrix (W)", "Piloting Quodrix by Symbol (W)"}),
                ElementsAre("Piloting Quodrix by Symbol (W): a COM Exception occured (" +
                            ComErrorText(DISP_E_TYPEMISMATCH) + ")"));
    EXPECT_EQ(ReconnectRequests(), 1);
}

TEST_F(PassTest, WindowWithoutItsKindInterfaceOrOfAnUnknownKindGetsNothingButTheLine) {
    Attach({"--group", "Desk=0,Vista,9,Chart", "--bare-kind", "Vista"});
    EXPECT_TRUE(link->Pilot("V", {{"Desk", {-1}}}));
    EXPECT_THAT(PilotCalls(journal), ElementsAre("IChartWindow.Pilot G1W4 V"));
    EXPECT_EQ(CountLogText(logDir.path(), "Value sent to quodrix : [V]"), 4u);

    // A module with specific kinds leaves the kind-0 window alone and creates none for it.
    EXPECT_TRUE(link->Pilot("W", {{"Desk", {1}}}));
    EXPECT_EQ(PilotCalls(journal).size(), 1u);
    EXPECT_EQ(CountLogText(logDir.path(), "Value sent to quodrix : [W]"), 1u);
    EXPECT_THAT(JournalCalls(journal, "IWindows.Add"), IsEmpty());
}

TEST_F(PassTest, LongAndEightBitValuesReachTheWindowWhole) {
    Attach({"--group", "Desk=TimeSales"});
    const std::string values[] = {std::string(259, 'a'), std::string(260, 'b'), LongValue(), std::string(2000, 'c'),
                                  "\xE9t\xE9.PA"};
    std::vector<std::string> expected;
    for (const std::string& value : values) {
        EXPECT_TRUE(link->Pilot(value, {{"Desk", {4}}}));
        // The journal is UTF-8: each byte arrived as the character of the same number.
        std::wstring wide(value.begin(), value.end());
        for (std::size_t i = 0; i < value.size(); ++i) wide[i] = static_cast<unsigned char>(value[i]);
        expected.push_back("ITimeSalesWindow.Pilot G1W1 " + velo::Utf8FromWide(wide));
    }
    EXPECT_EQ(PilotCalls(journal), expected);
    EXPECT_EQ(ReconnectRequests(), 0);
}

TEST_F(PassTest, ModulesArePilotedInByteOrderOfTheirNames) {
    Attach({"--group", "b=Vista", "--group", "B=Vista", "--group", "a=Vista"});
    EXPECT_TRUE(link->Pilot("V", {{"b", {1}}, {"a", {1}}, {"B", {1}}}));
    EXPECT_THAT(CallFields(journal, "IGroup.Activate", {"name"}), ElementsAre("name=B", "name=a", "name=b"));
    EXPECT_THAT(PilotCalls(journal),
                ElementsAre("IVistaWindow.Pilot G2W1 V", "IVistaWindow.Pilot G3W1 V", "IVistaWindow.Pilot G1W1 V"));
}

}  // namespace
