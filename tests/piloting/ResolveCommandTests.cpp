// qxpilot resolve: the daemon's lookup and encoding on a configuration file, from the command line.
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace qxtest;
using ::testing::Contains;
using ::testing::Not;

namespace {

constexpr char kIdentifiers[] = " --code-middle 7 --isin XS0000000017 --currency EUR --symbol ABC";

struct ResolveCase {
    const char* keyType;
    const char* arguments;  // after --config
    const char* trace;
    const char* value;
};

// The worked examples: one rule for place 25 without a market, asked for with market 3.
const ResolveCase kWorkedExamples[] = {
    {"ISIN", "--place 25 --market 3 --code-middle 7 --isin XS0000000017 --currency EUR --symbol ABC",
     "Piloting using Isin value", "ISIN=XS0000000017.P"},
    {"ISIN", "--place 25 --market 3 --code-middle 7 --currency EUR --symbol ABC", "Piloting using Isin value",
     "ABC.P"},
    {"ISIN_CURRENCY", "--place 25 --market 3 --code-middle 7 --isin XS0000000017 --currency EUR --symbol ABC",
     "Piloting using Isin and Currency values", "ISINC=XS0000000017EUR.P"},
    {"ISIN_CURRENCY", "--place 25 --market 3 --code-middle 7 --isin XS0000000017 --symbol ABC",
     "Piloting using Isin and Currency values", "ABC.P"},
    {"KTVID", "--place 25 --market 3 --code-middle 7 --isin XS0000000017 --currency EUR --symbol ABC",
     "Piloting using KTVID", "KTV=002500703000ABC.P"},
    {"SYMBOL", "--place 25 --market 3 --code-middle 7 --isin XS0000000017 --currency EUR --symbol ABC",
     "Piloting using Symbol", "ABC.P"},
};

class ResolveTest : public ::testing::Test {
protected:
    void WriteRules(const std::string& text) { WriteFileText(dir.file("rules.dat"), text); }
    RunResult Resolve(const std::string& arguments) {
        return RunProgram(Quoted(BinPath("qxpilot.exe")) + " resolve --config rules.dat " + arguments,
                          std::chrono::seconds(60), dir.path());
    }
    // Texts of the log lines (after their 18-character prefix) with their tag or level.
    static std::vector<std::string> Tagged(const std::vector<std::string>& lines) {
        std::vector<std::string> tagged;
        for (const std::string& line : lines)
            if (line.size() >= 18) tagged.push_back(line.substr(0, 3) + "|" + line.substr(18));
        return tagged;
    }

    TempDir dir;
};

TEST_F(ResolveTest, WorkedExamples) {
    for (const ResolveCase& c : kWorkedExamples) {
        WriteRules(std::string("[Extension_Rule]\r\nPlace=25\r\nQXExtension=.P\r\nQXSymbol=") + c.keyType + "\r\n");
        RunResult run = Resolve(c.arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        std::vector<std::string> lines = SplitLines(run.output);
        ASSERT_GE(lines.size(), 3u) << run.output;
        EXPECT_EQ(lines.back(), c.value) << c.keyType << " " << c.arguments;
        std::vector<std::string> tagged = Tagged(std::vector<std::string>(lines.end() - 3, lines.end() - 1));
        EXPECT_THAT(tagged, ::testing::ElementsAre(
                                " 3 |Piloting key found on : place [25], market [-1], credit class [DEFAULT], "
                                "underlying [DEFAULT] and group [DEFAULT]",
                                std::string(" 3 |") + c.trace))
            << run.output;
        // The configuration dump comes first, as the daemon writes it on loading.
        EXPECT_THAT(Tagged(lines), Contains(" 5 |Place [25] market [-1]")) << run.output;
    }
}

TEST_F(ResolveTest, NothingToSendExitsOneWithTheReason) {
    WriteRules("[Extension_Rule]\r\nPlace=25\r\nMarket=3\r\nCreditClass=BOND\r\nUnderlying=UND1\r\nQXSymbol=SYMBOL\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"--place 26 --market 3 --symbol ABC", "EE |The Verid was not found"},
        {"--place 25 --market 3 --credit-class bond --symbol ABC",
         "EE |The Credit Class [bond] was not found and no management of default value."},
        {"--place 25 --market 3 --credit-class BOND --underlying U --symbol ABC",
         "EE |The underlying [U] was not found and no management of default value."},
    };
    for (const auto& [arguments, reason] : cases) {
        RunResult run = Resolve(arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1u) << run.output;
        std::vector<std::string> tagged = Tagged(SplitLines(run.output));
        ASSERT_FALSE(tagged.empty()) << run.output;
        EXPECT_EQ(tagged.back(), reason) << run.output;
    }
}

TEST_F(ResolveTest, UnknownKeyTypeSendsNothing) {
    WriteRules("[Extension_Rule]\r\nPlace=25\r\nQXSymbol=ISIN CURRENCY\r\n");
    RunResult run = Resolve(std::string("--place 25 --market 3") + kIdentifiers);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_THAT(run.output, ::testing::HasSubstr("key type [ISIN CURRENCY] is none of")) << run.output;
    EXPECT_THAT(Tagged(SplitLines(run.output)), Not(Contains(::testing::StartsWith(" 3 |Piloting using"))));
}

TEST_F(ResolveTest, WideKtvidNumbersAndTextsCutLikeARequest) {
    WriteRules("[Extension_Rule]\r\nPlace=12345\r\nQXSymbol=KTVID\r\n");
    RunResult run = Resolve("--place 12345 --market -5 --code-middle 7 --symbol ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> lines = SplitLines(run.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "KTV=12345007-5000ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
}

TEST_F(ResolveTest, EmptyValueStillResolves) {
    WriteRules("[Extension_Rule]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\n");
    RunResult run = Resolve("--place 25 --market 3");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> lines = SplitLines(run.output);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(lines[lines.size() - 2].substr(18), "Piloting using Symbol");
}

TEST_F(ResolveTest, UsageErrorsExitTwo) {
    WriteRules("[Extension_Rule]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\n");
    const char* cases[] = {
        "--place 25",                          // no market
        "--market 3",                          // no place
        "--place 2x --market 3",               // not a number
        "--place 25 --market 99999999999",     // beyond 32 bits
        "--place 25 --market 3 --colour red",  // unknown option
        "--place 25 --market",                 // option without value
    };
    for (const char* arguments : cases) {
        RunResult run = Resolve(arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 2u) << arguments << "\n" << run.output;
        EXPECT_THAT(run.output, ::testing::HasSubstr("usage: qxpilot resolve")) << arguments;
    }
    RunResult missing = RunProgram(Quoted(BinPath("qxpilot.exe")) + " resolve --config nowhere.dat --place 1 --market 1",
                                   std::chrono::seconds(60), dir.path());
    EXPECT_EQ(missing.exitCode, 2u) << missing.output;
    EXPECT_THAT(missing.output, ::testing::HasSubstr("cannot read configuration file"));
}

}  // namespace
