// Piloting key lookup: level order, one-step fallbacks, no backtracking, and the line each outcome writes.
#include "daemon/piloting/Piloting.h"

#include <gtest/gtest.h>

namespace {

// One configuration holding every shape the cases below need, built as the loader builds it.
PilotingConfiguration MakeConfiguration() {
    PilotingConfiguration c;
    auto set = [&c](std::int32_t place, std::int32_t market, const char* cc, const char* und, const char* grp,
                    const char* ext) { SetPilotingKey(c, place, market, cc, und, grp, ext, "SYMBOL"); };
    // A place configured without a market only.
    set(25, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".D25");
    set(25, AnyMarket, "DEFAULT", "DEFAULT", "ACT", ".ACT");
    // Exact market beside the any-market entry; the exact one lacks a default credit class.
    set(30, 1, "BOND", "DEFAULT", "DEFAULT", ".B1");
    set(30, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".ANY30");
    // Only defaults.
    set(50, 2, "DEFAULT", "DEFAULT", "DEFAULT", ".D50");
    // Case of the request texts.
    set(60, AnyMarket, "BOND", "DEFAULT", "DEFAULT", ".BOND60");
    set(60, AnyMarket, "default", "DEFAULT", "DEFAULT", ".DEF60");  // stored as DEFAULT
    set(61, AnyMarket, "BOND", "DEFAULT", "DEFAULT", ".BOND61");
    // Groups: with and without a default, and an empty key.
    set(70, AnyMarket, "DEFAULT", "DEFAULT", "G1", ".G1");
    set(70, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".G70");
    set(71, AnyMarket, "DEFAULT", "DEFAULT", "G1", ".G71");
    set(72, AnyMarket, "DEFAULT", "DEFAULT", "", ".EMPTY");
    set(72, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".G72");
    // Underlying without a default.
    set(80, AnyMarket, "DEFAULT", "UND1", "DEFAULT", ".U80");
    // Independent fallbacks: own credit class, default underlying, own group.
    set(90, AnyMarket, "A", "DEFAULT", "G", ".A90");
    set(90, AnyMarket, "A", "DEFAULT", "DEFAULT", ".A90D");
    set(90, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".D90");
    // Chosen entries whose lower levels fail, beside defaults that would match.
    set(91, AnyMarket, "A", "DEFAULT", "G", ".A91");
    set(91, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".D91");
    set(92, AnyMarket, "DEFAULT", "U1", "G", ".U92");
    set(92, AnyMarket, "DEFAULT", "DEFAULT", "DEFAULT", ".D92");
    // Negative market configured, and market -1 written explicitly.
    set(95, -3, "DEFAULT", "DEFAULT", "DEFAULT", ".M-3");
    return c;
}

struct LookupCase {
    const char* name;
    std::int32_t place, market;
    const char *creditClass, *underlying, *group;
    const char* extension;  // of the key found; null when none is
    std::int32_t marketAfter;
    const char* line;  // the trace on success, the error line otherwise
};

const LookupCase kCases[] = {
    {"WorkedExample", 25, 3, "X", "", "ACT", ".ACT", -1,
     "Piloting key found on : place [25], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [ACT]"},
    {"ExactMarketBeatsAnyMarket", 30, 1, "BOND", "U", "G", ".B1", 1,
     "Piloting key found on : place [30], market [1], credit class [BOND], underlying [DEFAULT] and group [DEFAULT]"},
    {"MarketFallbackShowsMinusOne", 30, 2, "BOND", "U", "G", ".ANY30", -1,
     "Piloting key found on : place [30], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"NoBacktrackingToAnyMarket", 30, 1, "EQ", "U", "G", nullptr, 1,
     "The Credit Class [EQ] was not found and no management of default value."},
    {"PlaceNotConfigured", 40, 1, "DEFAULT", "DEFAULT", "DEFAULT", nullptr, -1, "The Verid was not found"},
    {"PlaceNotConfiguredAnyMarket", 40, -1, "X", "Y", "Z", nullptr, -1, "The Verid was not found"},
    {"NoFallbackForThePlace", 26, 3, "X", "", "ACT", nullptr, -1, "The Verid was not found"},
    {"AllThreeDefaults", 50, 2, "X", "Y", "Z", ".D50", 2,
     "Piloting key found on : place [50], market [2], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"DefaultsMatchedExactly", 50, 2, "DEFAULT", "DEFAULT", "DEFAULT", ".D50", 2,
     "Piloting key found on : place [50], market [2], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"ExactMarketAbsentNoAnyMarket", 50, 3, "X", "Y", "Z", nullptr, -1, "The Verid was not found"},
    {"CreditClassCaseSensitiveFallsToDefault", 60, 7, "bond", "", "", ".DEF60", -1,
     "Piloting key found on : place [60], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"LowerCaseDefaultIsAnOrdinaryText", 60, 7, "default", "", "", ".DEF60", -1,
     "Piloting key found on : place [60], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"CreditClassCaseSensitiveNoDefault", 61, 7, "bond", "", "", nullptr, -1,
     "The Credit Class [bond] was not found and no management of default value."},
    {"CreditClassExact", 61, 7, "BOND", "x", "y", ".BOND61", -1,
     "Piloting key found on : place [61], market [-1], credit class [BOND], underlying [DEFAULT] and group [DEFAULT]"},
    {"EmptyGroupTakesDefault", 70, 1, "", "", "", ".G70", -1,
     "Piloting key found on : place [70], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"GroupCaseSensitive", 70, 1, "", "", "g1", ".G70", -1,
     "Piloting key found on : place [70], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"EmptyGroupNoDefault", 71, 1, "", "", "", nullptr, -1,
     "The group [] was not found and no management of default value."},
    {"GroupNoDefault", 71, 1, "", "", "G2", nullptr, -1,
     "The group [G2] was not found and no management of default value."},
    {"EmptyGroupMatchesEmptyKey", 72, 1, "", "", "", ".EMPTY", -1,
     "Piloting key found on : place [72], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group []"},
    {"UnderlyingNoDefault", 80, 1, "", "UND2", "", nullptr, -1,
     "The underlying [UND2] was not found and no management of default value."},
    {"UnderlyingExact", 80, 1, "", "UND1", "", ".U80", -1,
     "Piloting key found on : place [80], market [-1], credit class [DEFAULT], underlying [UND1] and group [DEFAULT]"},
    {"IndependentFallbacks", 90, 4, "A", "foo", "G", ".A90", -1,
     "Piloting key found on : place [90], market [-1], credit class [A], underlying [DEFAULT] and group [G]"},
    {"OwnCreditClassDefaultGroup", 90, 4, "A", "foo", "H", ".A90D", -1,
     "Piloting key found on : place [90], market [-1], credit class [A], underlying [DEFAULT] and group [DEFAULT]"},
    {"NoBacktrackingToDefaultCreditClass", 91, 4, "A", "foo", "H", nullptr, -1,
     "The group [H] was not found and no management of default value."},
    {"NoBacktrackingToDefaultUnderlying", 92, 4, "A", "U1", "H", nullptr, -1,
     "The group [H] was not found and no management of default value."},
    {"NegativeMarket", 95, -3, "", "", "", ".M-3", -3,
     "Piloting key found on : place [95], market [-3], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
    {"RequestMarketMinusOne", 25, -1, "", "", "", ".D25", -1,
     "Piloting key found on : place [25], market [-1], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]"},
};

class LookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, FindsTheKeyOrSaysWhyNot) {
    const LookupCase& c = GetParam();
    const PilotingConfiguration config = MakeConfiguration();
    PilotingKeyLookup found =
        LookUpPilotingKey(config.placeMarkets, c.place, c.market, c.group, c.creditClass, c.underlying);
    EXPECT_EQ(found.market, c.marketAfter);
    EXPECT_EQ(found.line, c.line);
    if (c.extension == nullptr) {
        EXPECT_EQ(found.key, nullptr);
    } else {
        ASSERT_NE(found.key, nullptr);
        EXPECT_EQ(found.key->extension, c.extension);
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, LookupTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

TEST(Lookup, ResultPointsIntoTheConfiguration) {
    const PilotingConfiguration config = MakeConfiguration();
    PilotingKeyLookup found = LookUpPilotingKey(config.placeMarkets, 25, -1, "ACT", "", "");
    ASSERT_NE(found.key, nullptr);
    EXPECT_EQ(found.key,
              &config.placeMarkets.at({25, -1}).at("DEFAULT").at("DEFAULT").at("ACT"));
}

TEST(Lookup, EmptyConfigurationFindsNothing) {
    PilotingKeyLookup found = LookUpPilotingKey(PlaceMarketTable{}, 1, 1, "", "", "");
    EXPECT_EQ(found.key, nullptr);
    EXPECT_EQ(found.line, "The Verid was not found");
}

TEST(Lookup, NullTextsReadAsEmpty) {
    const PilotingConfiguration config = MakeConfiguration();
    PilotingKeyLookup found = LookUpPilotingKey(config.placeMarkets, 72, 1, nullptr, nullptr, nullptr);
    ASSERT_NE(found.key, nullptr);
    EXPECT_EQ(found.key->extension, ".EMPTY");
}

TEST(Lookup, FindPilotingKeyLeavesTheFallbackMarketBehind) {
    PilotingConfiguration config = MakeConfiguration();
    config.currentPlace = 30;
    config.currentMarket = 2;
    ASSERT_NE(FindPilotingKey(config, "G", "BOND", "U"), nullptr);
    EXPECT_EQ(config.currentMarket, AnyMarket);
    config.currentMarket = 1;
    ASSERT_NE(FindPilotingKey(config, "G", "BOND", "U"), nullptr);
    EXPECT_EQ(config.currentMarket, 1);
    config.currentPlace = 40;
    EXPECT_EQ(FindPilotingKey(config, "G", "BOND", "U"), nullptr);
    EXPECT_EQ(config.currentMarket, AnyMarket);  // the fallback was tried before the place was given up
}

}  // namespace
