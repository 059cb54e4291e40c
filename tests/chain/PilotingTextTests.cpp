// The pure parts of a piloting pass: value and group-name conversions, window selection and creation.
#include "daemon/terminal/PilotingText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAreArray;

struct WideCase {
    std::string value;
    std::wstring expected;
};

TEST(PilotingWideText, EachByteBecomesTheCodeUnitOfTheSameNumber) {
    const WideCase cases[] = {
        {"", L""},
        {"ISIN=XS0000000017.P", L"ISIN=XS0000000017.P"},
        {"KTV=002500703000ABC", L"KTV=002500703000ABC"},
        {"\xE9t\xE9", L"\u00E9t\u00E9"},
        {"\x80\xFF", L"\u0080\u00FF"},
        {std::string("AB\0CD", 5), L"AB"},
        {std::string(300, 'x'), std::wstring(300, L'x')},
        {std::string(259, 'a') + "bc", std::wstring(259, L'a') + L"bc"},
    };
    for (const WideCase& c : cases) EXPECT_EQ(PilotingWideText(c.value), c.expected) << c.value;
}

struct NameCase {
    std::wstring name;
    std::string expected;
};

TEST(GroupNameText, ConvertsBackByteByByteAndCutsAt259) {
    const NameCase cases[] = {
        {L"", ""},
        {L"Trader", "Trader"},
        {L"trader", "trader"},
        {L"\u00E9quipe", "\xE9quipe"},
        {L"\u00FF", "\xFF"},
        {L"\u0100", ""},
        {L"Desk \u20AC", ""},
        {std::wstring(L"AB\0CD", 5), "AB"},
        {std::wstring(300, L'g'), std::string(259, 'g')},
        // Past the cut, nothing more is read.
        {std::wstring(259, L'g') + L"\u20AC", std::string(259, 'g')},
        {std::wstring(258, L'g') + L"\u20AC", ""},
    };
    for (const NameCase& c : cases) EXPECT_EQ(GroupNameText(c.name), c.expected);
}

struct SelectionCase {
    WindowKindSet kinds;
    bool allWindows;
    std::set<long> selected;  // of the kinds 0 to 9
};

TEST(WindowSelection, FirstKindAllMeansEveryWindowOtherwiseOnlyTheRegisteredKinds) {
    const SelectionCase cases[] = {
        {{-1}, true, {}},
        {{-1, 5}, true, {}},
        {{1, 6}, false, {1, 6}},
        {{3}, false, {3}},
        {{1, 2, 3, 4, 5, 6}, false, {1, 2, 3, 4, 5, 6}},
        {{}, false, {}},
    };
    for (const SelectionCase& c : cases) {
        EXPECT_EQ(IsAllWindowsModule(c.kinds), c.allWindows);
        if (c.allWindows) continue;
        std::set<long> selected;
        for (long kind = 0; kind <= 9; ++kind)
            if (SelectsWindowKind(c.kinds, kind)) selected.insert(kind);
        EXPECT_EQ(selected, c.selected);
    }
}

TEST(WindowSelection, KindZeroIsNeverSelected) {
    // Zero is refused at registration; a registry holding it still selects no window of kind 0.
    EXPECT_FALSE(SelectsWindowKind({0, 1}, 0));
}

struct MissingCase {
    WindowKindSet kinds;
    std::set<long> present;
    std::vector<std::int32_t> missing;
};

TEST(MissingWindowKinds, OneWindowPerMissingKindAscendingNoneForAllWindows) {
    const MissingCase cases[] = {
        {{1, 6}, {}, {1, 6}},
        {{6, 1}, {6}, {1}},
        {{3}, {3}, {}},
        {{3}, {3, 3}, {}},
        {{2, 4, 5}, {0, 9, 4}, {2, 5}},
        {{-1}, {}, {}},
        {{-1, 5, 6}, {}, {}},
        {{}, {}, {}},
    };
    for (const MissingCase& c : cases) EXPECT_THAT(MissingWindowKinds(c.kinds, c.present), ElementsAreArray(c.missing));
}

}  // namespace
