// Piloting value encoding: the four key types, the fallbacks to the symbol, and the numeric code.
#include "daemon/piloting/Piloting.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct EncodingCase {
    const char* name;
    const char* keyType;
    const char* extension;
    std::int32_t place, codeMiddle, market;
    const char *isin, *currency, *symbol;
    const char* trace;  // null: nothing is built
    const char* value;
};

constexpr const char* kIsinTrace = "Piloting using Isin value";
constexpr const char* kIsinCurrencyTrace = "Piloting using Isin and Currency values";
constexpr const char* kKtvidTrace = "Piloting using KTVID";
constexpr const char* kSymbolTrace = "Piloting using Symbol";

const EncodingCase kCases[] = {
    // The worked examples: place 25, middle 7, market 3, XS0000000017, EUR, ABC, extension .P.
    {"Isin", "ISIN", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", kIsinTrace, "ISIN=XS0000000017.P"},
    {"IsinEmpty", "ISIN", ".P", 25, 7, 3, "", "EUR", "ABC", kIsinTrace, "ABC.P"},
    {"IsinCurrency", "ISIN_CURRENCY", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", kIsinCurrencyTrace,
     "ISINC=XS0000000017EUR.P"},
    {"IsinCurrencyCurrencyEmpty", "ISIN_CURRENCY", ".P", 25, 7, 3, "XS0000000017", "", "ABC", kIsinCurrencyTrace,
     "ABC.P"},
    {"Ktvid", "KTVID", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", kKtvidTrace, "KTV=002500703000ABC.P"},
    {"Symbol", "SYMBOL", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", kSymbolTrace, "ABC.P"},
    // Further edges.
    {"IsinCurrencyIsinEmpty", "ISIN_CURRENCY", ".P", 25, 7, 3, "", "EUR", "ABC", kIsinCurrencyTrace, "ABC.P"},
    {"IsinCurrencyBothEmpty", "ISIN_CURRENCY", ".P", 25, 7, 3, "", "", "ABC", kIsinCurrencyTrace, "ABC.P"},
    {"IsinIgnoresCurrency", "ISIN", "", 25, 7, 3, "XS0000000017", "EUR", "ABC", kIsinTrace, "ISIN=XS0000000017"},
    {"KtvidPlaceFive", "KTVID", "", 5, 0, 0, "", "", "", kKtvidTrace, "KTV=000500000000"},
    {"KtvidWidePlaceNegativeMarket", "KTVID", ".P", 12345, 7, -5, "", "", "ABC", kKtvidTrace,
     "KTV=12345007-5000ABC.P"},
    {"KtvidEveryFieldWide", "KTVID", ".X", -1000, 1000, 100, "", "", "S", kKtvidTrace, "KTV=-10001000100000S.X"},
    {"EmptyExtension", "SYMBOL", "", 25, 7, 3, "", "", "ABC", kSymbolTrace, "ABC"},
    {"EmptySymbolAndExtension", "SYMBOL", "", 25, 7, 3, "XS0000000017", "EUR", "", kSymbolTrace, ""},
    {"IsinFallbackToEmptySymbol", "ISIN", "", 25, 7, 3, "", "EUR", "", kIsinTrace, ""},
    {"ExtensionKeepsItsCase", "SYMBOL", ".pA", 25, 7, 3, "", "", "abc", kSymbolTrace, "abc.pA"},
    {"LongExtension", "SYMBOL", "=XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX", 1, 1,
     1, "", "", "S", kSymbolTrace, "S=XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"},
    // Key types are matched whole and case-sensitively.
    {"LowerCaseKeyType", "isin", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", nullptr, nullptr},
    {"TrailingBlank", "SYMBOL ", ".P", 25, 7, 3, "", "", "ABC", nullptr, nullptr},
    {"Misspelt", "ISIN_CURRENCIES", ".P", 25, 7, 3, "XS0000000017", "EUR", "ABC", nullptr, nullptr},
    {"Prefix", "KTV", ".P", 25, 7, 3, "", "", "ABC", nullptr, nullptr},
    {"EmptyKeyType", "", ".P", 25, 7, 3, "", "", "ABC", nullptr, nullptr},
};

class EncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingTest, BuildsTheValue) {
    const EncodingCase& c = GetParam();
    InstrumentIdentifiers ids{c.place, c.codeMiddle, c.market, c.isin, c.currency, c.symbol};
    std::optional<EncodedPilotingValue> encoded = EncodePilotingValue(c.keyType, c.extension, ids);
    if (c.trace == nullptr) {
        EXPECT_FALSE(encoded.has_value());
        return;
    }
    ASSERT_TRUE(encoded.has_value());
    EXPECT_STREQ(encoded->trace, c.trace);
    EXPECT_EQ(encoded->value, c.value);
}

INSTANTIATE_TEST_SUITE_P(KeyTypes, EncodingTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

struct CodeCase {
    std::int32_t place, codeMiddle, market;
    const char* code;
};

const CodeCase kCodes[] = {
    {5, 0, 0, "000500000000"},
    {25, 7, 3, "002500703000"},
    {9999, 999, 99, "999999999000"},
    {-999, -99, -9, "-999-99-9000"},
    {0, 0, -1, "0000000-1000"},
    {10000, 0, 0, "1000000000000"},
    {1, 1000, 1, "0001100001000"},
    {1, 1, 100, "0001001100000"},
    {1, 1, -10, "0001001-10000"},
    {INT_MAX, INT_MAX, INT_MAX, "214748364721474836472147483647000"},
    {INT_MIN, INT_MIN, INT_MIN, "-2147483648-2147483648-2147483648000"},
};

TEST(KtvidCode, PadsToTheFieldWidthsAndKeepsWiderNumbersWhole) {
    for (const CodeCase& c : kCodes) {
        EXPECT_EQ(KtvidCode(c.place, c.codeMiddle, c.market), c.code)
            << c.place << " " << c.codeMiddle << " " << c.market;
    }
}

TEST(KtvidCode, TwelveCharactersWhileEveryNumberFits) {
    for (std::int32_t place : {-999, 0, 1, 9999})
        for (std::int32_t middle : {-99, 0, 999})
            for (std::int32_t market : {-9, 0, 99}) EXPECT_EQ(KtvidCode(place, middle, market).size(), 12u);
}

TEST(Encoding, NullIdentifiersReadAsEmpty) {
    InstrumentIdentifiers ids{1, 2, 3, nullptr, nullptr, nullptr};
    auto isin = EncodePilotingValue("ISIN", ".E", ids);
    ASSERT_TRUE(isin.has_value());
    EXPECT_EQ(isin->value, ".E");
    auto ktvid = EncodePilotingValue("KTVID", "", ids);
    ASSERT_TRUE(ktvid.has_value());
    EXPECT_EQ(ktvid->value, "KTV=000100203000");
}

}  // namespace
