// Piloting requests through a real daemon, and the module registry behind the control window.
#include "client/ClientCore.h"
#include "common/QXRequests.h"
#include "daemon/core/Application.h"
#include "daemon/core/ControlWindow.h"
#include "daemon/log/Logger.h"
#include "daemon/proxy/ProxyData.h"
#include "tests/support/HostedControlWindow.h"
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// Rules for the worked examples (place 25 and market 3, one group per key type), a place with an exact market beside its any-market entry (30),
// and a place with a credit class but no default (61).
constexpr char kConfiguration[] =
    "[Extension_Isin]\r\nPlace=25\r\nMarket=3\r\nQXExtension=.P\r\nQXSymbol=isin\r\n"
    "[Extension_IsinCurrency]\r\nPlace=25\r\nMarket=3\r\nGroup=GIC\r\nQXExtension=.P\r\nQXSymbol=ISIN_CURRENCY\r\n"
    "[Extension_Ktvid]\r\nPlace=25\r\nMarket=3\r\nGroup=GKT\r\nQXExtension=.P\r\nQXSymbol=KTVID\r\n"
    "[Extension_Symbol]\r\nPlace=25\r\nMarket=3\r\nGroup=GSY\r\nQXExtension=.P\r\nQXSymbol=Symbol\r\n"
    "[Extension_Any25]\r\nPlace=25\r\nQXExtension=.ANY\r\nQXSymbol=KTVID\r\nGroup=ACT\r\n"
    "[Extension_Unknown]\r\nPlace=25\r\nMarket=9\r\nQXExtension=.P\r\nQXSymbol=ISINCURRENCY\r\n"
    "[Extension_Empty]\r\nPlace=25\r\nMarket=10\r\nQXSymbol=SYMBOL\r\n"
    "[Extension_Exact30]\r\nPlace=30\r\nMarket=1\r\nCreditClass=BOND\r\nQXExtension=.B1\r\nQXSymbol=SYMBOL\r\n"
    "[Extension_Any30]\r\nPlace=30\r\nQXExtension=.ANY30\r\nQXSymbol=SYMBOL\r\n"
    "[Extension_Bond61]\r\nPlace=61\r\nCreditClass=BOND\r\nUnderlying=UND1\r\nQXExtension=.B61\r\n"
    "QXSymbol=SYMBOL\r\n"
    "[Extension_Groups70]\r\nPlace=70\r\nGroup=G1\r\nQXExtension=.G1\r\nQXSymbol=SYMBOL\r\n";

struct Pilot {
    std::int32_t place, codeMiddle, market;
    const char *symbol, *group, *isin, *currency, *creditClass, *underlying;
};

// The lines of a pilot request's road, as the 3-character tag or level, "|" and the text.
bool IsPilotingLine(const std::string& text) {
    for (const char* start : {"Piloting key found on : ", "Piloting using ", "Value that had been sent to Quodrix", "The Verid", "The Credit Class [",
                              "The underlying [", "The group ["}) {
        if (text.rfind(start, 0) == 0) return true;
    }
    return false;
}

std::vector<std::string> PilotingLines(const std::string& dir) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(ReadFileText(FindLogFile(dir)))) {
        if (line.size() >= 18 && IsPilotingLine(line.substr(18))) lines.push_back(line.substr(0, 3) + "|" + line.substr(18));
    }
    return lines;
}

std::string Found(int place, int market, const char* cc, const char* und, const char* grp) {
    return " 3 |Piloting key found on : place [" + std::to_string(place) + "], market [" + std::to_string(market) +
           "], credit class [" + cc + "], underlying [" + und + "] and group [" + grp + "]";
}

std::string Sent(const std::string& value) { return " 1 |Value that had been sent to Quodrix : [" + value + "]"; }

class PilotingDaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        KillStrayDaemon();
        configFile = configDir.file("rules.dat");
        WriteFileText(configFile, kConfiguration);
        ASSERT_TRUE(daemon.startWithLog(logDir.path())) << "daemon did not come up";
    }
    void TearDown() override {
        if (daemon.process().running()) {
            EXPECT_EQ(daemon.stop(), 0u);
        }
    }

    void Start(const std::string& file) {
        StartRequest start = MakeStartRequest("127.0.0.1", 7001, file.c_str());
        ASSERT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, &start, sizeof start));
    }

    void Send(const Pilot& p) {
        PilotArguments arguments;
        arguments.place = p.place;
        arguments.codeMiddle = p.codeMiddle;
        arguments.market = p.market;
        arguments.symbol = p.symbol;
        arguments.group = p.group;
        arguments.isin = p.isin;
        arguments.currency = p.currency;
        arguments.creditClass = p.creditClass;
        arguments.underlying = p.underlying;
        PilotRequest request = MakePilotRequest(arguments);
        ASSERT_TRUE(SendRequest(PILOT_REQ_PILOT, &request, sizeof request));
    }

    // A refused module registration logged after everything sent before it: the log is complete up to here.
    void Mark(const std::string& marker) { ASSERT_TRUE(SendLogMarker(logDir.path(), marker)); }

    TempDir logDir;
    TempDir configDir;
    std::string configFile;
    Daemon daemon;
};

TEST_F(PilotingDaemonTest, WorkedExamplesAreSentWithTheirLines) {
    Start(configFile);
    const Pilot requests[] = {
        {25, 7, 3, "ABC", "", "XS0000000017", "EUR", "", ""},
        {25, 7, 3, "ABC", "", "", "EUR", "", ""},
        {25, 7, 3, "ABC", "GIC", "XS0000000017", "EUR", "", ""},
        {25, 7, 3, "ABC", "GIC", "XS0000000017", "", "", ""},
        {25, 7, 3, "ABC", "GKT", "XS0000000017", "EUR", "", ""},
        {25, 7, 3, "ABC", "GSY", "XS0000000017", "EUR", "", ""},
        {5, 0, 0, "", "", "", "", "", ""},  // no place 5: nothing
    };
    for (const Pilot& p : requests) Send(p);
    Mark("AfterWorkedExamples");
    EXPECT_THAT(PilotingLines(logDir.path()),
                ElementsAre(Found(25, 3, "DEFAULT", "DEFAULT", "DEFAULT"), " 3 |Piloting using Isin value",
                            Sent("ISIN=XS0000000017.P"),  //
                            Found(25, 3, "DEFAULT", "DEFAULT", "DEFAULT"), " 3 |Piloting using Isin value",
                            Sent("ABC.P"),  //
                            Found(25, 3, "DEFAULT", "DEFAULT", "GIC"),
                            " 3 |Piloting using Isin and Currency values", Sent("ISINC=XS0000000017EUR.P"),  //
                            Found(25, 3, "DEFAULT", "DEFAULT", "GIC"),
                            " 3 |Piloting using Isin and Currency values", Sent("ABC.P"),  //
                            Found(25, 3, "DEFAULT", "DEFAULT", "GKT"), " 3 |Piloting using KTVID",
                            Sent("KTV=002500703000ABC.P"),  //
                            Found(25, 3, "DEFAULT", "DEFAULT", "GSY"), " 3 |Piloting using Symbol",
                            Sent("ABC.P"),  //
                            "EE |The Verid was not found"));
}

TEST_F(PilotingDaemonTest, LookupEdges) {
    Start(configFile);
    const Pilot requests[] = {
        {25, 7, 11, "ABC", "ACT", "", "", "X", ""},     // market fallback, exact group, KTVID with market 11
        {25, 7, 9, "ABC", "", "XS0000000017", "EUR", "", ""},  // unknown key type: only the lookup's line
        {25, 7, 10, "", "", "XS0000000017", "EUR", "", ""},    // empty value
        {30, 0, 2, "S", "", "", "", "BOND", ""},        // (30, 2) absent: (30, -1)
        {30, 0, 1, "S", "", "", "", "BOND", ""},        // the next request looks up its own market
        {30, 0, 1, "S", "", "", "", "EQ", ""},          // no backtracking to (30, -1)
        {61, 0, 1, "S", "", "", "", "bond", "UND1"},    // case-sensitive credit class, no default
        {61, 0, 1, "S", "", "", "", "BOND", "UND2"},    // underlying without default
        {70, 0, 1, "S", "", "", "", "", ""},            // empty group, no default group
        {70, 0, 1, "S", "G1", "", "", "", ""},
        {40, 0, -1, "S", "", "", "", "", ""},           // place not configured
    };
    for (const Pilot& p : requests) Send(p);
    Mark("AfterLookupEdges");
    EXPECT_THAT(PilotingLines(logDir.path()),
                ElementsAre(Found(25, -1, "DEFAULT", "DEFAULT", "ACT"), " 3 |Piloting using KTVID",
                            Sent("KTV=002500711000ABC.ANY"),  //
                            Found(25, 9, "DEFAULT", "DEFAULT", "DEFAULT"),  //
                            Found(25, 10, "DEFAULT", "DEFAULT", "DEFAULT"), " 3 |Piloting using Symbol", Sent(""),  //
                            Found(30, -1, "DEFAULT", "DEFAULT", "DEFAULT"), " 3 |Piloting using Symbol",
                            Sent("S.ANY30"),  //
                            Found(30, 1, "BOND", "DEFAULT", "DEFAULT"), " 3 |Piloting using Symbol", Sent("S.B1"),  //
                            "EE |The Credit Class [EQ] was not found and no management of default value.",
                            "EE |The Credit Class [bond] was not found and no management of default value.",
                            "EE |The underlying [UND2] was not found and no management of default value.",
                            "EE |The group [] was not found and no management of default value.",
                            Found(70, -1, "DEFAULT", "DEFAULT", "G1"), " 3 |Piloting using Symbol", Sent("S.G1"),  //
                            "EE |The Verid was not found"));
}

TEST_F(PilotingDaemonTest, TextsArriveCutToTheirFields) {
    Start(configFile);
    // A symbol of 36 characters arrives as 32; a credit class of 8 as 5, "BONDS".
    const std::string symbol32(32, 'S');
    Send({30, 0, 2, (symbol32 + "TAIL").c_str(), "", "", "", "", ""});
    Send({30, 0, 1, "S", "", "", "", "BONDSXYZ", ""});
    Send({30, 0, 1, "S", "", "", "", "BOND\xE9", ""});
    Mark("AfterCutTexts");
    EXPECT_THAT(PilotingLines(logDir.path()),
                ElementsAre(Found(30, -1, "DEFAULT", "DEFAULT", "DEFAULT"), " 3 |Piloting using Symbol",
                            Sent(symbol32 + ".ANY30"),
                            "EE |The Credit Class [BONDS] was not found and no management of default value.",
                            "EE |The Credit Class [BOND\xE9] was not found and no management of default value."));
}

TEST_F(PilotingDaemonTest, PilotBeforeAnyStartFindsNothing) {
    Send({25, 7, 3, "ABC", "", "XS0000000017", "EUR", "", ""});
    Mark("AfterEarlyPilot");
    EXPECT_THAT(PilotingLines(logDir.path()), ElementsAre("EE |The Verid was not found"));
}

TEST_F(PilotingDaemonTest, OnlyTheFirstStartLoadsRules) {
    TempDir other;
    std::string otherFile = other.file("other.dat");
    WriteFileText(otherFile, "[Extension_Other]\r\nPlace=40\r\nQXSymbol=SYMBOL\r\n");
    Start(configFile);
    Start(otherFile);
    Send({40, 0, 1, "S", "", "", "", "", ""});
    Mark("AfterTwoStarts");
    EXPECT_THAT(PilotingLines(logDir.path()), ElementsAre("EE |The Verid was not found"));
}

TEST_F(PilotingDaemonTest, RefusedWindowKindsAreLoggedAcceptedOnesAreNot) {
    const std::pair<const char*, const char*> registrations[] = {
        {"Trader", "All"},   {"Trader", "all"},  {"Trader", "News "}, {"trader", "Chart"},
        {"Trader", "Chart"}, {"Trader", "Chart"}, {"New", "Gadget"},   {"", ""},
    };
    for (const auto& [module, kind] : registrations) {
        ModuleRequest request = MakeModuleRequest(module, kind);
        ASSERT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, &request, sizeof request));
    }
    Mark("AfterRegistrations");
    std::vector<std::string> refused;
    for (const std::string& text : LogTexts(logDir.path()))
        if (text.rfind("Invalid Piloting Module: ", 0) == 0) refused.push_back(text);
    EXPECT_THAT(refused, ElementsAre("Invalid Piloting Module: News ", "Invalid Piloting Module: Gadget",
                                     "Invalid Piloting Module: ", "Invalid Piloting Module: AfterRegistrations"));
}

// The registry cannot be seen from outside a daemon until a terminal is piloted: drive the control window's
// procedure in this process instead, on a window of a class no client looks for.
constexpr char kTestClass[] = "QXPilotRegistryTest";

class RegistryWindowTest : public HostedControlWindowTest {
protected:
    RegistryWindowTest() : HostedControlWindowTest(kTestClass) {}
    void SetUp() override {
        KillStrayDaemon();
        HostedControlWindowTest::SetUp();
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_modules.clear();
    }
    void Register(const char* module, const char* kind) {
        ModuleRequest request = MakeModuleRequest(module, kind);
        Request(PILOT_REQ_ADD_MODULE, &request, sizeof request);
    }
    void Start() {
        StartRequest request = MakeStartRequest("", 0, configDir.file("none.dat").c_str());
        Request(PILOT_REQ_START_TERMINAL, &request, sizeof request);
    }
    ModuleRegistry Modules() {
        CriticalSectionGuard guard(theProxyData.m_lock);
        return theProxyData.m_modules;
    }

    TempDir configDir;
};

TEST_F(RegistryWindowTest, FirstStartClearsTheRegistryASecondDoesNot) {
    Register("Trader", "News");
    Register("Trader", "All");
    Register("Viewer", "Chart");
    EXPECT_EQ(Modules(), (ModuleRegistry{{"Trader", {-1, 5}}, {"Viewer", {6}}}));
    Start();
    EXPECT_THAT(Modules(), IsEmpty());
    Register("Trader", "Vista");
    Register("trader", "OrderBook");
    Register("Other", "Nothing");
    Start();
    EXPECT_EQ(Modules(), (ModuleRegistry{{"Trader", {1}}, {"trader", {3}}}));
    std::vector<std::string> texts = LogTexts(logDir.path());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Invalid Piloting Module: Nothing"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), " Quodrix started on demand"), 1);
}

}  // namespace
