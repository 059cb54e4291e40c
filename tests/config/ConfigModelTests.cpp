// The model: key normalisation, setting leaves, the redundancy warning, iteration order.
#include "daemon/config/ConfigModel.h"
#include "tests/config/ConfigTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kRedundantIn = "EE The piloting Key is redundant, please check section [";

std::string RedundancyLine(const std::string& section, int place) {
    std::string line = kRedundantIn;
    line += section;
    line += "], another section contains the same keys for the same place [";
    line += std::to_string(place);
    line += "]";
    return line;
}

TEST(NormaliseKey, CutsToTheLimitAndFoldsOnlyTheDefaultKey) {
    struct Case {
        std::string item;
        std::size_t limit;
        std::string key;
    };
    const std::string long70 = std::string(60, 'U') + "0123456789";
    const Case cases[] = {
        {"default", 10, "DEFAULT"},
        {"Default", 10, "DEFAULT"},
        {"DEFAULT", 10, "DEFAULT"},
        {"dEfAuLt", 64, "DEFAULT"},
        {"defaults", 10, "defaults"},
        {" DEFAULT", 10, " DEFAULT"},
        {"ABCDEFGHIJKL", 10, "ABCDEFGHIJ"},
        {"ABCDEFGHIJXY", 10, "ABCDEFGHIJ"},
        {"ABCDEFGHIJ", 10, "ABCDEFGHIJ"},
        {long70, 64, long70.substr(0, 64)},
        {"Defaultabcd", 10, "Defaultabc"},
        {"a1", 10, "a1"},
        {"A1", 10, "A1"},
        {"", 10, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(NormaliseKey(c.item, c.limit), c.key) << c.item << " / " << c.limit;
}

class SetPilotingKeyTest : public ::testing::Test {
protected:
    void Set(const std::string& section, int place, int market, const std::string& creditClass,
             const std::string& underlying, const std::string& group, const std::string& extension,
             const std::string& keyType) {
        config.currentSection = section;
        config.currentPlace = place;
        SetPilotingKey(config, place, market, creditClass, underlying, group, extension, keyType);
    }

    LogCapture log;
    PilotingConfiguration config;
};

TEST_F(SetPilotingKeyTest, NewLeafCreatesItsLevelsSilently) {
    Set("Extension_A", 25, 1, "C", "U", "G", ".x", "ISIN");
    EXPECT_THAT(ModelRows(config), ElementsAre("25|1|C|U|G|.x|ISIN"));
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST(SetPilotingKey, RedefinitionWithOtherTextsWarnsAndTheLastWins) {
    struct Case {
        const char* name;
        std::string extension;
        std::string keyType;
        bool warned;
    };
    const Case cases[] = {
        {"same texts", ".PA", "ISIN", false},
        {"other extension", ".PB", "ISIN", true},
        {"extension in other case", ".pa", "ISIN", true},
        {"other key type", ".PA", "SYMBOL", true},
        {"empty extension", "", "ISIN", true},
    };
    for (const Case& c : cases) {
        LogCapture caseLog;
        PilotingConfiguration model;
        model.currentSection = "Extension_1";
        model.currentPlace = 25;
        SetPilotingKey(model, 25, -1, "DEFAULT", "DEFAULT", "DEFAULT", ".PA", "ISIN");
        model.currentSection = "Extension_2";
        SetPilotingKey(model, 25, -1, "default", "Default", "DEFAULT", c.extension, c.keyType);
        EXPECT_THAT(ModelRows(model), ElementsAre("25|-1|DEFAULT|DEFAULT|DEFAULT|" + c.extension + "|" + c.keyType))
            << c.name;
        if (c.warned)
            EXPECT_THAT(caseLog.lines(), ElementsAre(RedundancyLine("Extension_2", 25))) << c.name;
        else
            EXPECT_THAT(caseLog.lines(), IsEmpty()) << c.name;
    }
}

TEST_F(SetPilotingKeyTest, TruncatedItemsShareTheirEntry) {
    Set("Extension_1", 7, 3, "ABCDEFGHIJKL", std::string(64, 'u') + "1", "GROUPGROUP1", ".a", "ISIN");
    Set("Extension_2", 7, 3, "ABCDEFGHIJXY", std::string(64, 'u') + "2", "GROUPGROUP2", ".b", "ISIN");
    EXPECT_THAT(ModelRows(config), ElementsAre("7|3|ABCDEFGHIJ|" + std::string(64, 'u') + "|GROUPGROUP|.b|ISIN"));
    EXPECT_THAT(log.lines(), ElementsAre(RedundancyLine("Extension_2", 7)));
}

TEST_F(SetPilotingKeyTest, KeysAreCaseSensitiveButDefaultAndEmptyAreKeysToo) {
    Set("Extension_1", 10, 2, "A1", "", "DEFAULT", "", "ISIN");
    Set("Extension_1", 10, 2, "a1", "DEFAULT", "", "", "ISIN");
    Set("Extension_1", 10, -1, "Default", "DEFAULT", "DEFAULT", "", "ISIN");
    Set("Extension_1", 3, 1, "B", "DEFAULT", "DEFAULT", "", "ISIN");
    Set("Extension_1", 3, 1, "a", "DEFAULT", "DEFAULT", "", "ISIN");
    Set("Extension_1", 3, 1, "deFAULT", "DEFAULT", "DEFAULT", "", "ISIN");
    // Place, then market as signed numbers; texts byte-wise.
    EXPECT_THAT(ModelRows(config), ElementsAre("3|1|B|DEFAULT|DEFAULT||ISIN", "3|1|DEFAULT|DEFAULT|DEFAULT||ISIN",
                                               "3|1|a|DEFAULT|DEFAULT||ISIN", "10|-1|DEFAULT|DEFAULT|DEFAULT||ISIN",
                                               "10|2|A1||DEFAULT||ISIN", "10|2|a1|DEFAULT|||ISIN"));
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(SetPilotingKeyTest, TextKeysOrderAsUnsignedBytes) {
    Set("Extension_1", 1, 1, "\xE9t\xE9", "DEFAULT", "DEFAULT", "", "ISIN");
    Set("Extension_1", 1, 1, "zz", "DEFAULT", "DEFAULT", "", "ISIN");
    Set("Extension_1", 1, 1, "z", "DEFAULT", "DEFAULT", "", "ISIN");
    auto rows = ModelRows(config);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "1|1|z|DEFAULT|DEFAULT||ISIN");
    EXPECT_EQ(rows[1], "1|1|zz|DEFAULT|DEFAULT||ISIN");
    EXPECT_EQ(rows[2], "1|1|\xE9t\xE9|DEFAULT|DEFAULT||ISIN");
}

}  // namespace
