// Pure parts of the loader: list splitting, integer reading, section lines, section names.
#include "daemon/config/ConfigLoader.h"
#include "daemon/config/ConfigText.h"
#include "daemon/config/SectionValues.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> Items(const char* text, char delimiter) {
    ListCursor cursor{text, delimiter};
    std::vector<std::string> items;
    std::string item;
    while (NextListItem(cursor, item)) items.push_back(item);
    return items;
}

struct ListCase {
    std::string text;
    std::vector<std::string> items;
};

TEST(NextListItem, SplitsCommaListsWithoutTrimming) {
    const ListCase cases[] = {
        {"A,B", {"A", "B"}},
        {"A, DEFAULT", {"A", " DEFAULT"}},  // the blank stays in front of the next item
        {"A,,B", {"A", "", "B"}},
        {",A", {"", "A"}},
        {"A,", {"A"}},  // a comma at the very end adds nothing
        {"A,,", {"A", ""}},
        {",", {""}},
        {",,", {"", ""}},
        {" ", {" "}},
        {"", {}},
        {"1,,2", {"1", "", "2"}},
        {"G1,default", {"G1", "default"}},
    };
    for (const ListCase& c : cases) EXPECT_EQ(Items(c.text.c_str(), ','), c.items) << "[" << c.text << "]";
}

TEST(NextListItem, WalksZeroSeparatedListsToTheirDoubleZero) {
    // String literals end with one more zero.
    EXPECT_THAT(Items("Alpha\0Extension_A\0x\0", '\0'), ElementsAre("Alpha", "Extension_A", "x"));
    EXPECT_THAT(Items("\0", '\0'), IsEmpty());
    // A null position is an empty list.
    ListCursor none{nullptr, ','};
    std::string item = "kept";
    EXPECT_FALSE(NextListItem(none, item));
    EXPECT_EQ(item, "kept");
}

TEST(NextListItem, CursorStopsOnTheEndWhenNoDelimiterFollows) {
    const char text[] = "A,B";
    ListCursor cursor{text, ','};
    std::string item;
    ASSERT_TRUE(NextListItem(cursor, item));
    EXPECT_EQ(cursor.position, text + 2);
    ASSERT_TRUE(NextListItem(cursor, item));
    EXPECT_EQ(cursor.position, text + 3);
    EXPECT_FALSE(NextListItem(cursor, item));
    EXPECT_EQ(item, "B");
}

TEST(ReadInteger, ReadsLikeTheCRuntime) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {"25", 25},
        {"25abc", 25},
        {"  7", 7},
        {"\t7", 7},
        {" 12,", 12},
        {"-3", -3},
        {"+4", 4},
        {"007", 7},
        {"1 2", 1},
        {"0x10", 0},
        {"abc", 0},
        {"", 0},
        {" ", 0},
        {"-", 0},
        {"- 5", 0},
        {"0", 0},
        {"-0", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ReadInteger(text), value) << "[" << text << "]";
}

TEST(ParseSectionLines, KeysAnyCaseLaterWinsLinesWithoutKeySkipped) {
    const char lines[] = "Place=25\0place=26\0noequal\0=empty\0Market=1,2\0A=b=c\0qxExtension=\0# hash=4\0";
    SectionValues values{{"STALE", "x"}};
    ParseSectionLines(values, lines);
    EXPECT_THAT(values, ElementsAre(std::pair<const std::string, std::string>("# HASH", "4"),
                                    std::pair<const std::string, std::string>("A", "b=c"),
                                    std::pair<const std::string, std::string>("MARKET", "1,2"),
                                    std::pair<const std::string, std::string>("PLACE", "26"),
                                    std::pair<const std::string, std::string>("QXEXTENSION", "")));
}

TEST(ParseSectionLines, KeyNamesAreCutValuesAreKeptWhole) {
    const std::string longKey = std::string(250, 'k') + "LONGKEYTAIL";  // 261 characters
    const std::string longValue = std::string(300, 'v') + ",LAST";
    const std::string lines = longKey + "=1" + '\0' + "Group=" + longValue + '\0' + '\0';
    SectionValues values;
    ParseSectionLines(values, lines.c_str());
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values.rbegin()->first, std::string(250, 'K') + "LONGK");
    EXPECT_EQ(GetSectionValue(values, longKey), "1");  // the name asked for is cut the same way
    EXPECT_EQ(GetSectionValue(values, "group"), longValue);
    EXPECT_EQ(GetSectionValue(values, "Missing"), "");
}

TEST(SectionNames, CommaPrefixIsRemovedOrderKept) {
    const char list[] = "Old,Extension_D\0a,b,c\0Plain\0,Lead\0Extension_A\0Extension_A\0";
    EXPECT_THAT(SectionNamesFromList(list),
                ElementsAre("Extension_D", "b,c", "Plain", "Lead", "Extension_A", "Extension_A"));
}

TEST(SectionNames, RuleSectionsNameExtensionAndDoNotStartWithDash) {
    const std::pair<std::string, bool> cases[] = {
        {"Extension", true},       {"Extension_A", true},  {"MyExtension2", true}, {"xExtensionx", true},
        {" -Extension", true},     {"Extension-", true},   {"extension_a", false}, {"EXTENSION", false},
        {"-Extension_C", false},   {"-", false},           {"", false},            {"General", false},
        {"Extensio n", false},
    };
    for (const auto& [name, rule] : cases) EXPECT_EQ(IsRuleSection(name), rule) << "[" << name << "]";
}

}  // namespace
