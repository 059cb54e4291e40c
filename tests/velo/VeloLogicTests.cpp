// The simulator's pure parts and the generated interface header: no process, no COM server.
#include "tests/velo/InterfaceSlots.h"
#include "tools/velo/VeloOptions.h"
#include "tools/velo/VeloSettings.h"
#include "tools/velo/VeloText.h"

#include "QuodrixLib.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <functional>
#include <map>

using namespace velo;

namespace {

// ---- the interface as the daemon calls it ----

TEST(InterfaceLayout, MethodsSitAtTheTerminalsVtablePositions) {
    const std::map<std::string, int> expected = {
        {"IApplication.get_Connection", 3}, {"IApplication.get_Groups", 4}, {"IApplication.get_Active", 5},
        {"IApplication.put_Active", 6},
        {"IConnection.Init", 3}, {"IConnection.get_Connected", 4}, {"IConnection.put_Mode", 6},
        {"IGroups.get_Count", 3}, {"IGroups.get_List", 5}, {"IGroups.get_Item", 6}, {"IGroups.Add", 8},
        {"IWindows.get_Count", 3}, {"IWindows.get_List", 5}, {"IWindows.get_Item", 6}, {"IWindows.Add", 7},
        {"IGroup.get_Windows", 6}, {"IGroup.Activate", 7},
        {"IWindow.get_Kind", 3},
        {"IVistaWindow.Pilot", 8}, {"IFullQuoteWindow.Pilot", 8}, {"IOrderBookWindow.Pilot", 8},
        {"ITimeSalesWindow.Pilot", 10}, {"INewsWindow.Pilot", 8}, {"IChartWindow.Pilot", 8},
        {"ITFrameWndEvents.FrameActivated", 3}, {"ITFrameWndEvents.FrameClosing", 7},
        {"ITFrameWndEvents.WindowPiloted", 9},
    };
    ASSERT_EQ(kInterfaceSlotCount, static_cast<int>(expected.size()));
    for (int i = 0; i < kInterfaceSlotCount; ++i) {
        auto it = expected.find(kInterfaceSlots[i].method);
        ASSERT_NE(it, expected.end()) << kInterfaceSlots[i].method;
        EXPECT_EQ(kInterfaceSlots[i].slot, it->second) << kInterfaceSlots[i].method;
    }
}

TEST(InterfaceLayout, IdentifiersAreTheTerminals) {
    auto text = [](REFGUID guid) {
        wchar_t buffer[64] = {};
        StringFromGUID2(guid, buffer, 64);
        return Utf8FromWide(buffer);
    };
    const std::vector<std::pair<std::string, std::string>> rows = {
        {text(CLSID_Application), "{0339D2E2-CDDD-11DE-B311-005056C00008}"},
        {text(IID_IApplication), "{EC0DF832-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IGroup), "{EC0DF833-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IGroups), "{EC0DF834-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IWindow), "{EC0DF836-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IWindows), "{EC0DF837-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IVistaWindow), "{EC0DF838-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IConnection), "{EC0DF83A-CDDC-11DE-B311-005056C00008}"},
        {text(IID_ITFrameWndEvents), "{EC0DF83C-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IFullQuoteWindow), "{EC0DF83D-CDDC-11DE-B311-005056C00008}"},
        {text(IID_ITimeSalesWindow), "{EC0DF83E-CDDC-11DE-B311-005056C00008}"},
        {text(IID_INewsWindow), "{EC0DF83F-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IChartWindow), "{EC0DF840-CDDC-11DE-B311-005056C00008}"},
        {text(IID_IOrderBookWindow), "{EC0DF842-CDDC-11DE-B311-005056C00008}"},
    };
    for (const auto& [actual, wanted] : rows) EXPECT_EQ(actual, wanted);
}

// ---- journal text ----

TEST(JournalText, EscapeAndUnescapeRoundTrip) {
    struct Row {
        std::string plain;
        std::string escaped;
    };
    const std::vector<Row> rows = {
        {"", ""},
        {"ISIN=FR0000120271EUR", "ISIN=FR0000120271EUR"},
        {"a\tb", "a\\tb"},
        {"line\r\nnext", "line\\r\\nnext"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1f\x7f", "\\x1F\\x7F"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 stays as it is
        {"C:\\velo test.journal", "C:\\\\velo test.journal"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(JournalEscape(row.plain), row.escaped);
        EXPECT_EQ(JournalUnescape(row.escaped), row.plain);
    }
    EXPECT_EQ(JournalEscape("a,b;c", ",;"), "a\\x2Cb\\x3Bc");
    EXPECT_EQ(JournalUnescape("a\\x2Cb\\x3Bc"), "a,b;c");
}

TEST(JournalText, LinesParseBackIntoTheirFields) {
    std::string line = JournalLine("INewsWindow.Pilot")
                           .wide("group", L"G1")
                           .wide("window", L"G1W5")
                           .number("kind", 5)
                           .wide("topic", L"")
                           .wide("value", L"ISIN=a\tb=c")
                           .hr(static_cast<HRESULT>(0x80004005))
                           .str();
    EXPECT_EQ(line, "INewsWindow.Pilot\tgroup=G1\twindow=G1W5\tkind=5\ttopic=\tvalue=ISIN=a\\tb=c\thr=0x80004005");
    auto entry = ParseJournalLine(line + "\r");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->call, "INewsWindow.Pilot");
    ASSERT_EQ(entry->fields.size(), 6u);
    EXPECT_EQ(entry->get("value"), "ISIN=a\tb=c");
    EXPECT_TRUE(entry->has("topic"));
    EXPECT_EQ(entry->get("topic"), "");
    EXPECT_FALSE(entry->has("missing"));
    EXPECT_FALSE(ParseJournalLine(""));
    EXPECT_FALSE(ParseJournalLine("\r"));
}

TEST(JournalText, SettingsParse) {
    struct Row {
        std::string text;
        bool ok;
        std::vector<std::vector<SettingsCell>> cells;
    };
    const std::vector<Row> rows = {
        {"1x2:INT:1,BSTR:Piloted", true, {{{"INT", "1"}, {"BSTR", "Piloted"}}}},
        {"2x1:I4:7;BSTR:a\\x2Cb", true, {{{"I4", "7"}}, {{"BSTR", "a,b"}}}},
        {"0x0:", true, {}},
        {"null", false, {}},
        {"bad(vt=8,dims=2)", false, {}},
        {"1x2:INT:1", false, {}},
        {"2x1:INT:1", false, {}},
    };
    for (const auto& row : rows) {
        auto cells = ParseSettings(row.text);
        ASSERT_EQ(cells.has_value(), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(*cells, row.cells) << row.text;
        }
    }
}

TEST(JournalText, HresultsAndIntegers) {
    EXPECT_EQ(FormatHresult(S_OK), "0x00000000");
    EXPECT_EQ(FormatHresult(static_cast<HRESULT>(0x80040205)), "0x80040205");
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> rows = {
        {"0", 0}, {"162", 162}, {"-1", -1}, {"0x80004005", 0x80004005LL}, {"0XfF", 255},
        {"", std::nullopt}, {"0x", std::nullopt}, {"12a", std::nullopt}, {"-", std::nullopt},
        {"0x100000000", std::nullopt}, {"2147483648", std::nullopt}, {"-2147483648", -2147483648LL},
    };
    for (const auto& [text, value] : rows) EXPECT_EQ(ParseInteger(text), value) << text;
}

TEST(JournalText, QuotedArgumentsSplitBackUnchanged) {
    const std::vector<std::string> rows = {
        "plain", "", "with blank", "C:\\dir with blank\\", "quote\"inside", "tail\\\\", "a\\\"b", "tab\there",
        "--fail", "*.Pilot:G1W2=0x80004005", "--group=Trader=Vista,Chart",
    };
    std::string line = "Velo.exe";
    for (const auto& row : rows) line += " " + QuoteArgument(row);
    int count = 0;
    std::wstring wide = WideFromUtf8(line);
    LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    ASSERT_EQ(count, static_cast<int>(rows.size()) + 1);
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(Utf8FromWide(argv[i + 1]), rows[i]);
    LocalFree(argv);
}

// ---- command line ----

TEST(VeloOptions, CommandLines) {
    struct Row {
        std::vector<std::string> args;
        std::string error;  // substring of the error; empty = valid
        std::function<void(const VeloOptions&)> check;
    };
    const std::vector<Row> rows = {
        {{}, "", [](const VeloOptions& o) { EXPECT_EQ(o.command, VeloCommand::Run); }},
        {{"-Embedding"}, "", [](const VeloOptions& o) { EXPECT_TRUE(o.embedding); }},
        {{"/regserver", "--journal", "C:\\j.txt"}, "",
         [](const VeloOptions& o) {
             EXPECT_EQ(o.command, VeloCommand::RegServer);
             EXPECT_EQ(o.journal, "C:\\j.txt");
             EXPECT_THAT(o.serverArguments, ::testing::ElementsAre("--journal", "C:\\j.txt"));
         }},
        {{"-UnregServer"}, "", [](const VeloOptions& o) { EXPECT_EQ(o.command, VeloCommand::UnregServer); }},
        {{"--help"}, "", [](const VeloOptions& o) { EXPECT_EQ(o.command, VeloCommand::Help); }},
        {{"--group", "Trader=Vista,chart,ORDERBOOK,9", "--group=Empty"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.groups.size(), 2u);
             EXPECT_EQ(o.groups[0].name, "Trader");
             EXPECT_THAT(o.groups[0].kinds, ::testing::ElementsAre(1, 6, 3, 9));
             EXPECT_EQ(o.groups[1].name, "Empty");
             EXPECT_TRUE(o.groups[1].kinds.empty());
             EXPECT_THAT(o.serverArguments,
                         ::testing::ElementsAre("--group", "Trader=Vista,chart,ORDERBOOK,9", "--group", "Empty"));
         }},
        {{"--group", "T=Vista,Bogus"}, "unknown window kind 'Bogus'", nullptr},
        {{"--fail", "IWindows.Add=0x80004005"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.faults.size(), 1u);
             EXPECT_EQ(o.faults[0].call, "IWindows.Add");
             EXPECT_EQ(o.faults[0].key, "");
             EXPECT_EQ(o.faults[0].nth, 0u);
             EXPECT_EQ(static_cast<unsigned long>(o.faults[0].hr), 0x80004005ul);
         }},
        {{"--fail=*.Pilot:G1W2@3=null"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.faults.size(), 1u);
             EXPECT_EQ(o.faults[0].call, "*.Pilot");
             EXPECT_EQ(o.faults[0].key, "G1W2");
             EXPECT_EQ(o.faults[0].nth, 3u);
             EXPECT_TRUE(o.faults[0].null);
         }},
        {{"--fail", "IWindows.Ad=1"}, "unknown call IWindows.Ad", nullptr},
        {{"--fail", "*.Nothing=1"}, "unknown call", nullptr},
        {{"--fail", "IWindows.Add@0=1"}, "bad call number", nullptr},
        {{"--fail", "IWindows.Add=oops"}, "bad HRESULT", nullptr},
        {{"--fail", "IWindows.Add"}, "needs CALL=RESULT", nullptr},
        {{"--refuse-create"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.faults.size(), 1u);
             EXPECT_EQ(o.faults[0].call, "IClassFactory.CreateInstance");
             EXPECT_EQ(o.faults[0].hr, E_FAIL);
         }},
        {{"--refuse-create=0x80070005"}, "",
         [](const VeloOptions& o) { EXPECT_EQ(static_cast<unsigned long>(o.faults.at(0).hr), 0x80070005ul); }},
        {{"--not-connected", "--inactive", "--no-com", "--bare-kind", "News", "--bad-list", "IGroups"}, "",
         [](const VeloOptions& o) {
             EXPECT_TRUE(o.notConnected);
             EXPECT_TRUE(o.inactive);
             EXPECT_TRUE(o.noCom);
             EXPECT_THAT(o.bareKinds, ::testing::ElementsAre(5));
             EXPECT_THAT(o.badLists, ::testing::ElementsAre("IGroups"));
         }},
        {{"--delay", "*=200", "--delay", "IWindows.Add:G1@2=50", "--hang", "*.Pilot:G1W1"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.faults.size(), 3u);
             EXPECT_EQ(o.faults[0].action, FaultAction::Delay);
             EXPECT_EQ(o.faults[0].call, "*");
             EXPECT_EQ(o.faults[0].delayMs, 200u);
             EXPECT_EQ(o.faults[1].key, "G1");
             EXPECT_EQ(o.faults[1].nth, 2u);
             EXPECT_EQ(o.faults[1].delayMs, 50u);
             EXPECT_EQ(o.faults[2].action, FaultAction::Hang);
             EXPECT_EQ(o.faults[2].call, "*.Pilot");
             EXPECT_EQ(o.faults[2].key, "G1W1");
             EXPECT_THAT(o.serverArguments, ::testing::ElementsAre("--delay", "*=200", "--delay", "IWindows.Add:G1@2=50",
                                                                   "--hang", "*.Pilot:G1W1"));
         }},
        {{"--delay", "IWindows.Add"}, "--delay needs CALL=MS", nullptr},
        {{"--delay", "IWindows.Add=-5"}, "bad milliseconds", nullptr},
        {{"--delay", "IWindows.Nope=5"}, "--delay: unknown call", nullptr},
        {{"--hang", "IWindows.Add@0"}, "--hang: bad call number", nullptr},
        {{"--fail", "*=0x80004005"}, "", [](const VeloOptions& o) { EXPECT_EQ(o.faults.at(0).call, "*"); }},
        {{"--list-cell", "IGroups:1:0=empty", "--list-cell", "IWindows:0:2=NULL", "--list-cell=IGroups:0:2=int"}, "",
         [](const VeloOptions& o) {
             ASSERT_EQ(o.listCells.size(), 3u);
             EXPECT_EQ(o.listCells[0].list, "IGroups");
             EXPECT_EQ(o.listCells[0].row, 1);
             EXPECT_EQ(o.listCells[0].column, 0);
             EXPECT_EQ(o.listCells[0].type, CellType::Empty);
             EXPECT_EQ(o.listCells[1].list, "IWindows");
             EXPECT_EQ(o.listCells[1].type, CellType::Null);
             EXPECT_EQ(o.listCells[2].type, CellType::Int);
         }},
        {{"--list-cell", "IGroups:0:3=empty"}, "--list-cell takes", nullptr},
        {{"--list-cell", "IWindow:0:0=empty"}, "--list-cell takes", nullptr},
        {{"--list-cell", "IGroups:0:0=bstr"}, "--list-cell takes", nullptr},
        {{"--signal", "release"}, "", [](const VeloOptions& o) { EXPECT_EQ(o.signal, "release"); }},
        {{"--bad-list", "IGroup"}, "--bad-list takes", nullptr},
        {{"--inactive=1"}, "takes no value", nullptr},
        {{"--journal"}, "needs a value", nullptr},
        {{"--journal="}, "needs a path", nullptr},
        {{"--signal", "closing", "--pid", "42"}, "",
         [](const VeloOptions& o) {
             EXPECT_EQ(o.command, VeloCommand::Signal);
             EXPECT_EQ(o.signal, "closing");
             EXPECT_EQ(o.signalPid, 42u);
         }},
        {{"--signal", "explode"}, "--signal takes", nullptr},
        {{"--pid", "x"}, "--pid needs", nullptr},
        {{"stray"}, "unknown argument 'stray'", nullptr},
        {{"--nope"}, "unknown option '--nope'", nullptr},
    };
    for (const auto& row : rows) {
        std::string joined;
        for (const auto& a : row.args) joined += a + " ";
        SCOPED_TRACE(joined);
        ParsedOptions parsed = ParseVeloOptions(row.args);
        if (row.error.empty()) {
            EXPECT_EQ(parsed.error, "");
            if (row.check) row.check(parsed.options);
        } else {
            EXPECT_THAT(parsed.error, ::testing::HasSubstr(row.error));
        }
    }
}

TEST(VeloOptions, KindNames) {
    const std::vector<std::pair<std::string, std::optional<long>>> rows = {
        {"Vista", 1}, {"fullquote", 2}, {"OrderBook", 3}, {"TIMESALES", 4}, {"News", 5}, {"Chart", 6},
        {"0", 0}, {"9", 9}, {"-1", -1}, {"All", std::nullopt}, {"", std::nullopt}, {"Vista ", std::nullopt},
    };
    for (const auto& [text, kind] : rows) EXPECT_EQ(KindFromText(text), kind) << text;
    EXPECT_EQ(KindName(4), "TimeSales");
    EXPECT_EQ(KindName(9), "Kind9");
}

TEST(VeloOptions, FaultRulesFireOnTheirCallsKeysAndNumbers) {
    auto rules = ParseVeloOptions({"--fail", "IWindows.Add@2=0x80004005", "--fail", "*.Pilot:G1W2=0x8001010E",
                                   "--fail", "IGroups.get_List=null"});
    ASSERT_EQ(rules.error, "");
    FaultTable table(rules.options.faults);
    struct Row {
        std::string call;
        std::string key;
        std::optional<HRESULT> hr;  // nothing: no fault; S_OK: a null rule
    };
    const std::vector<Row> rows = {
        {"IWindows.Add", "G1", std::nullopt},
        {"IWindows.Add", "G2", static_cast<HRESULT>(0x80004005)},  // the second call, whatever its group
        {"IWindows.Add", "G1", std::nullopt},
        {"IVistaWindow.Pilot", "G1W1", std::nullopt},
        {"INewsWindow.Pilot", "G1W2", static_cast<HRESULT>(0x8001010E)},
        {"IChartWindow.Pilot", "G1W2", static_cast<HRESULT>(0x8001010E)},
        {"IWindow.get_Kind", "G1W2", std::nullopt},
        {"IGroups.get_List", "", S_OK},
        {"IGroups.get_Count", "", std::nullopt},
    };
    for (const auto& row : rows) {
        auto fired = table.check(row.call, row.key);
        ASSERT_EQ(fired.has_value(), row.hr.has_value()) << row.call << " " << row.key;
        if (fired) {
            EXPECT_EQ(fired->null ? S_OK : fired->hr, *row.hr) << row.call;
        }
    }
}

TEST(VeloOptions, PacingRulesAddTheirDelaysCountTheirOwnCallsAndLeaveFailuresToTheFailRules) {
    auto rules = ParseVeloOptions({"--delay", "*=200", "--delay", "IWindows.Add@2=50", "--hang", "*.Pilot:G1W2",
                                   "--fail", "IWindows.Add@2=0x80004005"});
    ASSERT_EQ(rules.error, "");
    FaultTable table(rules.options.faults);
    struct Row {
        std::string call;
        std::string key;
        DWORD delayMs;
        bool hang;
        bool fails;
    };
    const std::vector<Row> rows = {
        {"IWindows.Add", "G1", 200, false, false},
        {"IWindows.Add", "G1", 250, false, true},  // the second Add: both its delay and its failure
        {"IWindows.Add", "G1", 200, false, false},
        {"IVistaWindow.Pilot", "G1W1", 200, false, false},
        {"INewsWindow.Pilot", "G1W2", 200, true, false},
        {"IWindow.get_Kind", "G1W2", 200, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call + " " + row.key);
        auto pacing = table.pacing(row.call, row.key);
        EXPECT_EQ(pacing.delayMs, row.delayMs);
        EXPECT_EQ(pacing.hang, row.hang);
        EXPECT_EQ(table.check(row.call, row.key).has_value(), row.fails);
    }
}

TEST(VeloOptions, HelpNamesEveryOptionAndCall) {
    std::string help = VeloHelpText();
    for (const char* option : {"/RegServer", "/UnregServer", "-Embedding", "--signal", "--pid", "--journal",
                               "--group", "--fail", "--refuse-create", "--not-connected", "--inactive",
                               "--bare-kind", "--bad-list", "--no-com", "--help", "--delay", "--hang", "--list-cell",
                               "release", "Velo.Hang"})
        EXPECT_THAT(help, ::testing::HasSubstr(option));
    for (const auto& call : FaultableCalls()) EXPECT_THAT(help, ::testing::HasSubstr(" " + call));
}

// ---- settings arrays as IWindows::Add receives them ----

class SafeArray {
public:
    SafeArray(VARTYPE type, std::vector<SAFEARRAYBOUND> bounds)
        : m_array(SafeArrayCreate(type, static_cast<UINT>(bounds.size()), bounds.data())) {}
    ~SafeArray() {
        if (m_array) SafeArrayDestroy(m_array);
    }
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    SAFEARRAY* get() const { return m_array; }
    void put(LONG row, LONG column, VARIANT value) {
        LONG index[2] = {row, column};
        ASSERT_EQ(SafeArrayPutElement(m_array, index, &value), S_OK);
        VariantClear(&value);
    }

private:
    SAFEARRAY* m_array;
};

VARIANT Int(VARTYPE type, int value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    V_I4(&v) = value;
    return v;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

TEST(Settings, EncodedAsRowsOfTypedCells) {
    SafeArray daemonStyle(VT_VARIANT, {{1, 0}, {2, 0}});
    daemonStyle.put(0, 0, Int(VT_INT, 1));
    daemonStyle.put(0, 1, Text(L"Piloted"));
    EXPECT_EQ(EncodeSettings(daemonStyle.get()), "1x2:INT:1,BSTR:Piloted");

    SafeArray twoRows(VT_VARIANT, {{2, 0}, {2, 0}});
    twoRows.put(0, 0, Int(VT_I4, -7));
    twoRows.put(0, 1, Text(L"a,b;c"));
    twoRows.put(1, 1, Int(VT_BOOL, VARIANT_TRUE));
    EXPECT_EQ(EncodeSettings(twoRows.get()), "2x2:I4:-7,BSTR:a\\x2Cb\\x3Bc;EMPTY:,BOOL:-1");
    auto cells = ParseSettings(EncodeSettings(twoRows.get()));
    ASSERT_TRUE(cells);
    EXPECT_EQ((*cells)[0][1].value, "a,b;c");

    SafeArray oneDimension(VT_VARIANT, {{2, 0}});
    EXPECT_EQ(EncodeSettings(oneDimension.get()), "bad(vt=12,dims=1)");
    SafeArray ofText(VT_BSTR, {{1, 0}, {2, 0}});
    EXPECT_EQ(EncodeSettings(ofText.get()), "bad(vt=8,dims=2)");
    EXPECT_EQ(EncodeSettings(nullptr), "null");
}

}  // namespace
