// The loader against real profile files: rule sections, lists, key types, warnings and the dump.
#include "daemon/config/ConfigChecks.h"
#include "daemon/config/ConfigLoader.h"
#include "daemon/config/SectionValues.h"
#include "tests/config/ConfigTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace qxtest;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string kInvalidKey = "EE Invalid Piloting Key <";
const std::string kInvalidKeyTail = ">, should be one of the following : ISIN, ISIN_CURRENCY, SYMBOL";

std::string InvalidKeyLine(const std::string& keyType) { return kInvalidKey + keyType + kInvalidKeyTail; }

std::string DefaultWarning(const char* level, int place) {
    std::string line = "WW No management of default ";
    line += level;
    line += " for Place " + std::to_string(place);
    line += ", : some of the instruments may not be piloted as it should be";
    return line;
}

std::string RedundancyLine(const std::string& section, int place) {
    std::string line = "EE The piloting Key is redundant, please check section [" + section;
    line += "], another section contains the same keys for the same place [" + std::to_string(place) + "]";
    return line;
}

// Lines of a profile file joined with CR LF.
std::string FileText(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> Messages(const std::vector<std::string>& lines) {
    std::vector<std::string> messages;
    for (const std::string& line : lines)
        if (line.starts_with("WW") || line.starts_with("EE")) messages.push_back(line);
    return messages;
}

class LoaderTest : public ::testing::Test {
protected:
    // Writes `text` to a fresh file and loads it by its full path.
    void Load(const std::string& text) {
        std::string path = dir.file("cfg" + std::to_string(++files) + ".dat");
        WriteFileText(path, text);
        LoadConfiguration(config, path.c_str());
    }

    TempDir dir;
    int files = 0;
    LogCapture log;
    PilotingConfiguration config;
};

TEST_F(LoaderTest, ShippedWorkedExampleIsTheDocumentedFile) {
    EXPECT_EQ(ReadFileText(BinPath("examples\\worked-example.dat")), kWorkedExampleFile);
}

TEST_F(LoaderTest, WorkedExampleGivesItsModelAndItsTwentySevenLogLines) {
    LoadConfiguration(config, BinPath("examples\\worked-example.dat").c_str());
    EXPECT_THAT(ModelRows(config), ElementsAre("25|-1|BOND|DEFAULT|DEFAULT||ISIN_CURRENCY",
                                               "25|1|DEFAULT|DEFAULT|DEFAULT|.X1|ISIN", "25|1|DEFAULT|DEFAULT|G1|.X1|ISIN",
                                               "25|2|DEFAULT|DEFAULT|DEFAULT|.X1|ISIN", "25|2|DEFAULT|DEFAULT|G1|.X1|ISIN"));
    EXPECT_THAT(log.lines(), ElementsAreArray(WorkedExampleDump()));
    EXPECT_EQ(config.currentSection, "Extension_B");
    EXPECT_EQ(config.currentPlace, 25);
    EXPECT_EQ(theLogger.warningCount(), 1);
}

struct SectionCase {
    const char* name;
    std::string file;
    std::vector<std::string> rows;
    std::vector<std::string> messages;  // WW and EE lines, the dump's warnings included
};

TEST_F(LoaderTest, RuleSectionsListsPlacesAndKeyTypes) {
    const std::string long70 = std::string(64, 'U') + "VWXYZ!";
    const SectionCase cases[] = {
        {"blank after a comma is kept",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "CreditClass=A, DEFAULT"}),
         {"25|-1| DEFAULT|DEFAULT|DEFAULT||ISIN", "25|-1|A|DEFAULT|DEFAULT||ISIN"},
         {DefaultWarning("Credit Class", 25)}},
        {"empty items, leading and trailing commas",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Group=,G1,,DEFAULT,"}),
         {"25|-1|DEFAULT|DEFAULT|||ISIN", "25|-1|DEFAULT|DEFAULT|DEFAULT||ISIN", "25|-1|DEFAULT|DEFAULT|G1||ISIN"},
         {}},
        {"market items 1,,2",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Market=1,,2"}),
         {"25|0|DEFAULT|DEFAULT|DEFAULT||ISIN", "25|1|DEFAULT|DEFAULT|DEFAULT||ISIN",
          "25|2|DEFAULT|DEFAULT|DEFAULT||ISIN"},
         {}},
        {"market without digits is market 0",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Market=x"}),
         {"25|0|DEFAULT|DEFAULT|DEFAULT||ISIN"},
         {}},
        {"market -1 is the any-market entry",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Market= -1", "[Extension_B]", "Place=25",
                   "QXSymbol=ISIN", "QXExtension=.B"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT|.B|ISIN"},
         {RedundancyLine("Extension_B", 25)}},
        {"place 25abc", FileText({"[Extension_A]", "Place=25abc", "QXSymbol=SYMBOL"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT||SYMBOL"}, {}},
        {"negative place", FileText({"[Extension_A]", "Place=-7", "QXSymbol=SYMBOL"}),
         {"-7|-1|DEFAULT|DEFAULT|DEFAULT||SYMBOL"}, {}},
        {"place 0, none, or not a number: skipped unchecked",
         FileText({"[Extension_A]", "Place=0", "QXSymbol=bad", "[Extension_B]", "QXSymbol=bad", "[Extension_C]",
                   "Place=abc", "QXSymbol=bad"}),
         {}, {}},
        {"key names in any case",
         FileText({"[Extension_A]", "pLaCe=25", "qxsymbol=symbol", "QXEXTENSION=.e", "market=3", "CREDITCLASS=Cc",
                   "underlying=Uu", "GROUP=DEFAULT"}),
         {"25|3|Cc|Uu|DEFAULT|.e|SYMBOL"},
         {DefaultWarning("Credit Class", 25), DefaultWarning("Underlying", 25)}},
        {"a later duplicate key wins",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "PLACE=26", "QXExtension=.old", "qxextension=.new"}),
         {"26|-1|DEFAULT|DEFAULT|DEFAULT|.new|ISIN"},
         {}},
        {"Extension anywhere in the name, case-sensitive, no leading dash",
         FileText({"[MyExtension2]", "Place=1", "QXSymbol=ISIN", "[Extension]", "Place=2", "QXSymbol=ISIN",
                   "[extension_a]", "Place=3", "QXSymbol=ISIN", "[-Extension_C]", "Place=4", "QXSymbol=ISIN",
                   "[General]", "Place=5", "QXSymbol=ISIN"}),
         {"1|-1|DEFAULT|DEFAULT|DEFAULT||ISIN", "2|-1|DEFAULT|DEFAULT|DEFAULT||ISIN"},
         {}},
        {"a comma in the name: the part after it is the section read",
         FileText({"[Old,Extension_D]", "Place=40", "QXSymbol=ISIN", "QXExtension=.old"}),
         {},
         {}},
        {"a comma in the name reads the section named after the comma",
         FileText({"[Old,Extension_D]", "Place=40", "QXSymbol=ISIN", "QXExtension=.old", "[Extension_D]",
                   "Place=41", "QXSymbol=KTVID"}),
         {"41|-1|DEFAULT|DEFAULT|DEFAULT||KTVID"},
         {}},
        {"default in any case, credit class and underlying cut at 10 and 64",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "CreditClass=dEfAuLt,ABCDEFGHIJKL",
                   "Underlying=default," + long70, "Group=Default,GROUPGROUPG"}),
         {"25|-1|ABCDEFGHIJ|DEFAULT|DEFAULT||ISIN", "25|-1|ABCDEFGHIJ|DEFAULT|GROUPGROUP||ISIN",
          "25|-1|ABCDEFGHIJ|" + long70.substr(0, 64) + "|DEFAULT||ISIN",
          "25|-1|ABCDEFGHIJ|" + long70.substr(0, 64) + "|GROUPGROUP||ISIN",
          "25|-1|DEFAULT|DEFAULT|DEFAULT||ISIN", "25|-1|DEFAULT|DEFAULT|GROUPGROUP||ISIN",
          "25|-1|DEFAULT|" + long70.substr(0, 64) + "|DEFAULT||ISIN",
          "25|-1|DEFAULT|" + long70.substr(0, 64) + "|GROUPGROUP||ISIN"},
         {}},
        {"key type written Isin_Currency", FileText({"[Extension_A]", "Place=25", "QXSymbol=Isin_Currency"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT||ISIN_CURRENCY"}, {}},
        {"key type ISIN CURRENCY is warned and loaded", FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN CURRENCY"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT||ISIN CURRENCY"}, {InvalidKeyLine("ISIN CURRENCY")}},
        {"key type missing", FileText({"[Extension_A]", "Place=25", "QXExtension=.X"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT|.X|"}, {InvalidKeyLine("")}},
        {"key type KTVID in any case", FileText({"[Extension_A]", "Place=25", "QXSymbol=KtvId"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT||KTVID"}, {}},
        {"key type checked once per section, before its lists",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=isn", "Market=1,2,3"}),
         {"25|1|DEFAULT|DEFAULT|DEFAULT||ISN", "25|2|DEFAULT|DEFAULT|DEFAULT||ISN",
          "25|3|DEFAULT|DEFAULT|DEFAULT||ISN"},
         {InvalidKeyLine("ISN")}},
        {"extension kept as written",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=isin", "QXExtension=.Pa x"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT|.Pa x|ISIN"}, {}},
        {"redefinition with other texts: one warning per combination, naming the later section",
         FileText({"[Extension_1]", "Place=25", "QXSymbol=ISIN", "Group=DEFAULT,G1", "[Extension_2]", "Place=25",
                   "QXSymbol=SYMBOL", "Group=G1,G2,DEFAULT"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT||SYMBOL", "25|-1|DEFAULT|DEFAULT|G1||SYMBOL",
          "25|-1|DEFAULT|DEFAULT|G2||SYMBOL"},
         {RedundancyLine("Extension_2", 25), RedundancyLine("Extension_2", 25)}},
        {"redefinition with the same texts is silent",
         FileText({"[Extension_1]", "Place=25", "QXSymbol=isin", "QXExtension=.P", "[Extension_2]", "Place=25",
                   "QXSymbol=ISIN", "QXExtension=.P"}),
         {"25|-1|DEFAULT|DEFAULT|DEFAULT|.P|ISIN"}, {}},
        {"a missing default group is warned per underlying",
         FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Underlying=U1,U2", "Group=G1"}),
         {"25|-1|DEFAULT|U1|G1||ISIN", "25|-1|DEFAULT|U2|G1||ISIN"},
         {DefaultWarning("Underlying", 25), DefaultWarning("group", 25), DefaultWarning("group", 25)}},
    };
    for (const SectionCase& c : cases) {
        LogCapture caseLog;
        PilotingConfiguration model;
        std::string path = dir.file("case" + std::to_string(++files) + ".dat");
        WriteFileText(path, c.file);
        LoadConfiguration(model, path.c_str());
        EXPECT_EQ(ModelRows(model), c.rows) << c.name;
        EXPECT_EQ(Messages(caseLog.lines()), c.messages) << c.name;
    }
}

TEST_F(LoaderTest, BlankOnlyMarketValueIsMarketZero) {
    // The profile reader trims values, so a blank-only value is given directly.
    ApplyRuleSection(config, "Extension_A", {{"PLACE", "25"}, {"QXSYMBOL", "ISIN"}, {"MARKET", " "}});
    ApplyRuleSection(config, "Extension_B", {{"PLACE", "26"}, {"QXSYMBOL", "ISIN"}, {"MARKET", ""}});
    ApplyRuleSection(config, "Extension_C", {{"PLACE", "27"}, {"QXSYMBOL", "ISIN"}, {"MARKET", " 4, 5"}});
    EXPECT_THAT(ModelRows(config),
                ElementsAre("25|0|DEFAULT|DEFAULT|DEFAULT||ISIN", "26|-1|DEFAULT|DEFAULT|DEFAULT||ISIN",
                            "27|4|DEFAULT|DEFAULT|DEFAULT||ISIN", "27|5|DEFAULT|DEFAULT|DEFAULT||ISIN"));
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(LoaderTest, SkippedSectionKeepsCurrentPlaceButNamesItself) {
    Load(FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "[Extension_Z]", "Place=0"}));
    EXPECT_EQ(config.currentSection, "Extension_Z");
    EXPECT_EQ(config.currentPlace, 25);
}

TEST_F(LoaderTest, MissingFileAndEmptyModelLogNothing) {
    LoadConfiguration(config, dir.file("no-such-file.dat").c_str());
    Load(FileText({"[General]", "Place=40", "[Extension_A]", "Place=0", "QXSymbol=ISIN", "[-Extension_B]",
                   "Place=25", "QXSymbol=bad"}));
    Load("");
    EXPECT_TRUE(config.placeMarkets.empty());
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(LoaderTest, EmptyFileNameReadsNothing) {
    LoadConfiguration(config, "");
    LoadConfiguration(config, nullptr);
    EXPECT_TRUE(config.placeMarkets.empty());
    EXPECT_EQ(config.currentSection, "");
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(LoaderTest, SectionLargerThanTheFirstBufferIsReadWhole) {
    // The rule's own keys come after well over 260 bytes of other lines.
    std::string text = "[Extension_Big]\r\n";
    for (int i = 0; i < 200; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "Comment%03d=some words that the loader ignores\r\n", i);
        text += line;
    }
    text += "Place=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.END\r\n";
    ASSERT_GT(text.size(), 8000u);
    std::string path = dir.file("big.dat");
    WriteFileText(path, text);

    SectionValues values;
    ASSERT_TRUE(ReadSection(values, path.c_str(), "Extension_Big"));
    EXPECT_EQ(values.size(), 203u);
    EXPECT_EQ(GetSectionValue(values, "Comment000"), "some words that the loader ignores");
    EXPECT_EQ(GetSectionValue(values, "QXExtension"), ".END");

    LoadConfiguration(config, path.c_str());
    EXPECT_THAT(ModelRows(config), ElementsAre("25|-1|DEFAULT|DEFAULT|DEFAULT|.END|SYMBOL"));
}

TEST_F(LoaderTest, ReadSectionEmptiesItsValuesFirst) {
    std::string path = dir.file("small.dat");
    WriteFileText(path, FileText({"[Extension_A]", "Place=3"}));
    SectionValues values{{"STALE", "1"}};
    ASSERT_TRUE(ReadSection(values, path.c_str(), "Extension_Missing"));
    EXPECT_TRUE(values.empty());
    ASSERT_TRUE(ReadSection(values, path.c_str(), "Extension_A"));
    EXPECT_THAT(values, ElementsAre(std::pair<const std::string, std::string>("PLACE", "3")));
}

TEST_F(LoaderTest, LongValuesAreKeptWhole) {
    // 120 groups make a value of about 600 characters; the last ones lie far beyond 255.
    std::string groups;
    for (int i = 0; i < 120; ++i) {
        char item[8];
        std::snprintf(item, sizeof item, "G%03d,", i);
        groups += item;
    }
    groups += "DEFAULT";
    Load(FileText({"[Extension_A]", "Place=25", "QXSymbol=ISIN", "Group=" + groups}));
    auto rows = ModelRows(config);
    EXPECT_EQ(rows.size(), 121u);
    EXPECT_THAT(rows, Contains("25|-1|DEFAULT|DEFAULT|G119||ISIN"));
    EXPECT_THAT(Messages(log.lines()), IsEmpty());  // DEFAULT, the last item, arrived
}

TEST_F(LoaderTest, ThousandsOfSectionsAreAllRead) {
    // About 40,000 bytes of section names, five times the first buffer.
    std::string text;
    constexpr int kSections = 2500;
    for (int i = 1; i <= kSections; ++i) {
        char section[96];
        std::snprintf(section, sizeof section, "[Desk_Extension_%05d]\r\nPlace=%d\r\nQXSymbol=ISIN\r\n", i, i);
        text += section;
    }
    Load(text);
    ASSERT_EQ(config.placeMarkets.size(), static_cast<std::size_t>(kSections));
    EXPECT_EQ(config.placeMarkets.rbegin()->first.place, kSections);
    EXPECT_EQ(config.currentSection, "Desk_Extension_02500");
    EXPECT_THAT(Messages(log.lines()), IsEmpty());
}

TEST_F(LoaderTest, OverLongSectionNameIsSkippedWithAWarning) {
    const std::string longest = "Extension_" + std::string(249, 'L');  // 259 characters: still read
    const std::string tooLong = "Extension_" + std::string(250, 'N');  // 260 characters
    Load(FileText({"[" + tooLong + "]", "Place=30", "QXSymbol=ISIN", "[" + longest + "]", "Place=31",
                   "QXSymbol=ISIN", "[Extension_After]", "Place=32", "QXSymbol=ISIN"}));
    EXPECT_THAT(ModelRows(config),
                ElementsAre("31|-1|DEFAULT|DEFAULT|DEFAULT||ISIN", "32|-1|DEFAULT|DEFAULT|DEFAULT||ISIN"));
    EXPECT_THAT(Messages(log.lines()),
                ElementsAre("WW Section [Extension_NNNNNNNNNNNNNNNNNNNNNNNNNNNNNN...] skipped: its name has 260 "
                            "characters, more than 259"));
}

TEST_F(LoaderTest, DumpOfEmptyModelWritesNothing) {
    DumpConfiguration(config);
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(LoaderTest, DumpListsEveryLevelInKeyOrder) {
    SetPilotingKey(config, 10, 2, "a", "DEFAULT", "DEFAULT", ".a", "ISIN");
    SetPilotingKey(config, 3, 1, "B", "U", "G", "", "KTVID");
    SetPilotingKey(config, 3, 1, "DEFAULT", "DEFAULT", "DEFAULT", ".d", "SYMBOL");
    DumpConfiguration(config);
    EXPECT_THAT(log.lines(),
                ElementsAre(" 5 Dumping the extension read from qxpilot.dat file\n", " 5 Place [3] market [1]",
                            " 5 \tCredit Class [B]", DefaultWarning("Underlying", 3), " 5 \t\tUnderlying [U]",
                            DefaultWarning("group", 3), " 5 \t\t\tGroup [G]", " 5 \t\t\t\tExtension []",
                            " 5 \t\t\t\tSymbol [KTVID]", " 5 \tCredit Class [DEFAULT]", " 5 \t\tUnderlying [DEFAULT]",
                            " 5 \t\t\tGroup [DEFAULT]", " 5 \t\t\t\tExtension [.d]", " 5 \t\t\t\tSymbol [SYMBOL]",
                            " 5 Place [10] market [2]", DefaultWarning("Credit Class", 10), " 5 \tCredit Class [a]",
                            " 5 \t\tUnderlying [DEFAULT]", " 5 \t\t\tGroup [DEFAULT]", " 5 \t\t\t\tExtension [.a]",
                            " 5 \t\t\t\tSymbol [ISIN]", " 5 End Dumping\n"));
}

TEST_F(LoaderTest, CheckKeyTypeAcceptsTheFourTypesExactly) {
    const std::pair<std::string, bool> cases[] = {
        {"ISIN", true},   {"ISIN_CURRENCY", true}, {"SYMBOL", true},   {"KTVID", true}, {"isin", false},
        {"", false},      {"ISIN ", false},        {"ISINC", false},   {"KTV", false},
    };
    for (const auto& [keyType, valid] : cases) {
        LogCapture caseLog;
        CheckKeyType(keyType);
        if (valid)
            EXPECT_THAT(caseLog.lines(), IsEmpty()) << keyType;
        else
            EXPECT_THAT(caseLog.lines(), ElementsAre(InvalidKeyLine(keyType))) << keyType;
    }
}

TEST_F(LoaderTest, DeskExampleLoadsCleanly) {
    LoadConfiguration(config, BinPath("examples\\desk.dat").c_str());
    EXPECT_EQ(theLogger.warningCount(), 0);
    EXPECT_THAT(ModelRows(config),
                ElementsAre("25|-1|DEFAULT|DEFAULT|DEFAULT|.PA|ISIN",
                            "25|1|DEFAULT|DEFAULT|DEFAULT|.PA|ISIN", "25|1|DEFAULT|DEFAULT|TUR|.PAW|SYMBOL",
                            "25|1|DEFAULT|DEFAULT|WAR|.PAW|SYMBOL", "25|1|OBL|DEFAULT|DEFAULT|.PA|ISIN_CURRENCY",
                            "25|2|DEFAULT|DEFAULT|DEFAULT|.PA|ISIN", "25|2|DEFAULT|DEFAULT|TUR|.PAW|SYMBOL",
                            "25|2|DEFAULT|DEFAULT|WAR|.PAW|SYMBOL", "25|2|OBL|DEFAULT|DEFAULT|.PA|ISIN_CURRENCY",
                            "30|-1|DEFAULT|DE0008469008|DEFAULT|.EUX|SYMBOL",
                            "30|-1|DEFAULT|DEFAULT|DEFAULT|.DE|ISIN_CURRENCY", "40|1|DEFAULT|DEFAULT|DEFAULT||KTVID",
                            "40|3|DEFAULT|DEFAULT|DEFAULT||KTVID", "50|-1|DEFAULT|DEFAULT|DEFAULT|.L|SYMBOL"));
}

}  // namespace
