// qxpilot check-config as operators run it: a real process, its output and its exit status.
#include "tests/config/ConfigTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

struct CheckOutput {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> logLines;  // tag, blank, text
    std::vector<std::string> otherLines;
};

CheckOutput RunCheck(const std::string& arguments, const std::string& workingDir = {}) {
    RunResult run = RunProgram(Quoted(BinPath("qxpilot.exe")) + " check-config " + arguments,
                               std::chrono::seconds(60), workingDir);
    EXPECT_TRUE(run.finished);
    CheckOutput out;
    out.exitCode = run.exitCode;
    static const std::regex logPrefix("^(WW|EE|FF|  |[ 0-9][0-9]) [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}   ");
    for (const std::string& line : SplitLines(run.output)) {
        if (std::regex_search(line, logPrefix))
            out.logLines.push_back(line.substr(0, 2) + " " + line.substr(18));
        else
            out.otherLines.push_back(line);
    }
    return out;
}

TEST(CheckConfig, WorkedExamplePrintsTheDumpAndItsWarningAndExitsOne) {
    const std::string path = BinPath("examples\\worked-example.dat");
    CheckOutput out = RunCheck(Quoted(path));
    EXPECT_EQ(out.exitCode, 1u);
    std::vector<std::string> expected = WorkedExampleDump();
    EXPECT_THAT(out.logLines, ElementsAreArray(expected));
    EXPECT_THAT(out.otherLines, ElementsAre("qxpilot: 1 warning(s) or error(s) in " + path));
}

TEST(CheckConfig, DeskExampleIsCleanAndExitsZero) {
    CheckOutput out = RunCheck(Quoted(BinPath("examples\\desk.dat")));
    EXPECT_EQ(out.exitCode, 0u);
    ASSERT_GE(out.logLines.size(), 3u);
    EXPECT_EQ(out.logLines.front(), " 5 Dumping the extension read from qxpilot.dat file\n");
    EXPECT_EQ(out.logLines.back(), " 5 End Dumping\n");
    for (const std::string& line : out.logLines) EXPECT_FALSE(line.starts_with("WW") || line.starts_with("EE")) << line;
    EXPECT_THAT(out.otherLines, IsEmpty());
}

TEST(CheckConfig, ExitStatusFollowsWarningsAndErrors) {
    struct Case {
        const char* name;
        std::string text;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"clean", "[Extension_A]\r\nPlace=25\r\nQXSymbol=ktvid\r\n", 0},
        {"invalid key type", "[Extension_A]\r\nPlace=25\r\nQXSymbol=ISIN CURRENCY\r\n", 1},
        {"redundant rule",
         "[Extension_A]\r\nPlace=25\r\nQXSymbol=ISIN\r\n[Extension_B]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\n", 1},
        {"missing default group", "[Extension_A]\r\nPlace=25\r\nQXSymbol=ISIN\r\nGroup=G1\r\n", 1},
        {"no rule at all", "[General]\r\nPlace=25\r\n[-Extension_A]\r\nPlace=25\r\nQXSymbol=ISIN\r\n", 1},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("check.dat");
        WriteFileText(path, c.text);
        CheckOutput out = RunCheck(Quoted(path));
        EXPECT_EQ(out.exitCode, c.exitCode) << c.name;
        if (c.exitCode == 0) EXPECT_THAT(out.otherLines, IsEmpty()) << c.name;
        else EXPECT_EQ(out.otherLines.size(), 1u) << c.name;
    }
}

TEST(CheckConfig, FileWithoutRulesIsReported) {
    TempDir dir;
    const std::string path = dir.file("empty.dat");
    WriteFileText(path, "[General]\r\nOwner=nobody\r\n");
    CheckOutput out = RunCheck(Quoted(path));
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_THAT(out.logLines, ::testing::IsEmpty());
    EXPECT_THAT(out.otherLines,
                ElementsAre("qxpilot: " + path + " holds no piloting rule: every piloting request would fail"));
}

TEST(CheckConfig, NameWithoutFolderIsTakenFromTheCurrentFolder) {
    TempDir dir;
    WriteFileText(dir.file("here.dat"), "[Extension_A]\r\nPlace=61\r\nQXSymbol=SYMBOL\r\n");
    CheckOutput out = RunCheck("here.dat", dir.path());
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_THAT(out.logLines, testing::Contains(" 5 Place [61] market [-1]"));
}

TEST(CheckConfig, MissingFileAndBadUsage) {
    TempDir dir;
    const std::string missing = dir.file("absent.dat");
    CheckOutput out = RunCheck(Quoted(missing));
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_THAT(out.otherLines, ElementsAre("qxpilot: configuration file not found: " + missing));
    EXPECT_THAT(out.logLines, IsEmpty());

    EXPECT_EQ(RunCheck(Quoted(dir.path())).exitCode, 1u);  // a folder is not a file
    EXPECT_EQ(RunCheck("").exitCode, 2u);
    EXPECT_EQ(RunCheck("a.dat b.dat").exitCode, 2u);
    CheckOutput help = RunCheck("--help");
    EXPECT_EQ(help.exitCode, 0u);
    ASSERT_FALSE(help.otherLines.empty());
    EXPECT_EQ(help.otherLines.front(), "usage: qxpilot check-config FILE");
}

}  // namespace

namespace {

// The table of docs/configuration.md for the desk example, run through the daemon's own lookup.
TEST(DeskExample, InstrumentsResolveAsDocumented) {
    struct Row {
        const char* request;
        const char* value;  // empty: nothing is sent
    };
    const Row rows[] = {
        {"--place 25 --market 1 --isin FR0000120271 --currency EUR --symbol TTE", "ISIN=FR0000120271.PA"},
        {"--place 25 --market 2 --credit-class OBL --isin FR0013508470 --currency EUR --symbol OAT30",
         "ISINC=FR0013508470EUR.PA"},
        {"--place 25 --market 1 --credit-class OBL --isin FR0013508470 --symbol OAT30", "OAT30.PA"},
        {"--place 25 --market 1 --group WAR --isin FR0014001234 --symbol 6F77S", "6F77S.PAW"},
        {"--place 25 --market 7 --isin FR0000131104 --symbol BNP", "ISIN=FR0000131104.PA"},
        {"--place 30 --market 4 --isin DE0007164600 --currency EUR --symbol SAP", "ISINC=DE0007164600EUR.DE"},
        {"--place 30 --market 4 --underlying DE0008469008 --isin DE000C123456 --currency EUR --symbol ODAX",
         "ODAX.EUX"},
        {"--place 40 --market 1 --code-middle 12 --isin IT0003132476 --symbol ENI", "KTV=004001201000ENI"},
        {"--place 40 --market 2 --code-middle 12 --symbol ENI", ""},
        {"--place 50 --market 1 --isin GB00BH4HKS39 --symbol VOD", "VOD.L"},
        {"--place 60 --market 1 --symbol SAN", ""},
    };
    for (const Row& row : rows) {
        RunResult run = RunProgram(Quoted(BinPath("qxpilot.exe")) + " resolve --config " +
                                   Quoted(BinPath("examples\\desk.dat")) + " " + row.request);
        ASSERT_TRUE(run.finished);
        std::vector<std::string> lines = SplitLines(run.output);
        if (row.value[0] == '\0') {
            EXPECT_EQ(run.exitCode, 1u) << row.request;
            EXPECT_THAT(lines, testing::Contains(testing::EndsWith("   The Verid was not found"))) << row.request;
        } else {
            EXPECT_EQ(run.exitCode, 0u) << row.request << "\n" << run.output;
            ASSERT_FALSE(lines.empty()) << row.request;
            EXPECT_EQ(lines.back(), row.value) << row.request;
        }
    }
}

}  // namespace
