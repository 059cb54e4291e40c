// The client library's logic as values: command-line composition, integrity mapping, UTF-8 conversion and the
// UTF-8 entry points' decisions, without any daemon.
#include "client/ClientCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

namespace {

const char kExe[] = "C:\\QX\\QXPilotSt.exe";

std::optional<std::string> CommandLineOf(const DaemonLaunch& launch) {
    if (!launch.useCommandLine) return std::nullopt;
    return std::string(launch.commandLine.data());
}

TEST(ComposeDaemonLaunch, QuotesTheProgramAndPassesTheDirectoryUnchanged) {
    const std::string prefix = std::string("\"") + kExe + "\" -log_path=";
    const std::string fits(519 - prefix.size(), 'd');
    struct Case {
        const char* name;
        const char* exe;
        std::optional<std::string> logDir;
        std::optional<std::string> expected;  // nothing: application name, no command line
    };
    const Case cases[] = {
        {"no directory: no option at all", kExe, std::nullopt, std::nullopt},
        {"directory", kExe, "C:\\logs", prefix + "C:\\logs"},
        {"empty directory keeps the option", kExe, "", prefix},
        {"blank kept as given", kExe, "C:\\my logs", prefix + "C:\\my logs"},
        {"quotes kept as given", kExe, "\"C:\\my logs\"", prefix + "\"C:\\my logs\""},
        {"519 characters fit", kExe, fits, prefix + fits},
        {"520 characters are cut to 519", kExe, fits + "X", prefix + fits},
        {"far too long", kExe, std::string(2000, 'z'), prefix + std::string(519 - prefix.size(), 'z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DaemonLaunch launch = ComposeDaemonLaunch(c.exe, c.logDir ? c.logDir->c_str() : nullptr);
        EXPECT_EQ(CommandLineOf(launch), c.expected);
        EXPECT_EQ(launch.commandLine[kCommandLineSize - 1], '\0');
    }

    // A program path alone can fill the buffer: the closing quote and the option are lost with the rest.
    const std::string longExe(600, 'p');
    DaemonLaunch launch = ComposeDaemonLaunch(longExe.c_str(), "x");
    EXPECT_EQ(CommandLineOf(launch), "\"" + std::string(518, 'p'));
}

TEST(DaemonServesAfterEnd, ZeroWhenADaemonWindowIsThereAndTheErrorClearedEitherWay) {
    for (bool found : {true, false}) {
        SCOPED_TRACE(found);
        SetLastSystemError(1234);
        EXPECT_EQ(DaemonServesAfterEnd(found), found ? kClientOk : kClientNotIdle);
        EXPECT_EQ(LastSystemError(), 0u);
    }
}

TEST(IntegrityLevels, TheDaemonGetsTheHighestStandardLevelNotAboveTheCaller) {
    struct Case {
        std::uint32_t caller;
        std::uint32_t level;
        const char* text;
    };
    const Case cases[] = {
        {0x0000, 0x0000, "S-1-16-0"},     {0x0FFF, 0x0000, "S-1-16-0"},     {0x1000, 0x1000, "S-1-16-4096"},
        {0x1FFF, 0x1000, "S-1-16-4096"},  {0x2000, 0x2000, "S-1-16-8192"},  {0x20FF, 0x2000, "S-1-16-8192"},
        {0x2100, 0x2100, "S-1-16-8448"},  {0x2FFF, 0x2100, "S-1-16-8448"},  {0x3000, 0x3000, "S-1-16-12288"},
        {0x3FFF, 0x3000, "S-1-16-12288"}, {0x4000, 0x4000, "S-1-16-16384"}, {0x4FFF, 0x4000, "S-1-16-16384"},
        {0x5000, 0x5000, "S-1-16-20480"}, {0xFFFFFFFF, 0x5000, "S-1-16-20480"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caller);
        EXPECT_EQ(StandardIntegrityLevel(c.caller), c.level);
        EXPECT_EQ(IntegritySidTextForLevel(c.caller), c.text);
    }
}

TEST(IntegritySidText, ReadsTheCallersLabelAndNothingForOtherHandles) {
    std::string own = IntegritySidText(GetCurrentProcess());
    ::testing::Test::RecordProperty("caller_integrity_label", own);
    std::printf("integrity label of the test process: %s\n", own.c_str());
    const char* known[] = {"S-1-16-0",     "S-1-16-4096",  "S-1-16-8192", "S-1-16-8448",
                           "S-1-16-12288", "S-1-16-16384", "S-1-16-20480"};
    EXPECT_NE(std::find(std::begin(known), std::end(known), own), std::end(known)) << own;

    EXPECT_EQ(IntegritySidText(nullptr), "");
    // A handle that is no process: no token to open.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(IntegritySidText(event), "");
    CloseHandle(event);
}

TEST(Utf8ToAnsi, ConvertsAndSubstitutesWithoutFailing) {
    if (GetACP() != 1252) GTEST_SKIP() << "expectations are written for ANSI code page 1252, this one is " << GetACP();
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, ""},
        {"", ""},
        {"qxpilot.dat", "qxpilot.dat"},
        {"caf\xC3\xA9", "caf\xE9"},
        {"\xE2\x82\xAC", "\x80"},
        {"\xE4\xB8\xAD", "?"},
        {"\xF0\x9F\x98\x80", "??"},
        {"x\xFF\xFEy", "x??y"},
        {"\xC3", "?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input ? c.input : "(null)");
        TextConversion converted = Utf8ToAnsi(c.input);
        EXPECT_TRUE(converted.ok);
        EXPECT_EQ(converted.text, c.expected);
        EXPECT_EQ(converted.error, 0u);
    }
}

TEST(Utf8ToCodePage, AFailingStepReportsItsError) {
    TextConversion converted = Utf8ToCodePage("abc", 12345);  // no such code page
    EXPECT_FALSE(converted.ok);
    EXPECT_EQ(converted.error, static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(converted.text, "");
}

// ---- The UTF-8 entry points, with a converter and a starter that the test controls.

constexpr std::uint32_t kConversionError = ERROR_NO_UNICODE_TRANSLATION;
constexpr std::int32_t kStarterResult = 42;

// "bad" fails, "empty" converts to nothing, anything else is marked as converted.
TextConversion FakeConvert(const char* text) {
    TextConversion result;
    std::string input = text;
    if (input == "bad") {
        result.error = kConversionError;
        return result;
    }
    result.ok = true;
    result.text = input == "empty" ? "" : "<" + input + ">";
    return result;
}

struct StarterCall {
    std::string first;
    std::int32_t number = 0;
    std::string last;
    std::uint32_t errorAtCall = 0;
};
std::optional<StarterCall> lastCall;

std::int32_t FakeStartDaemon(const char* exePath, bool integrityLaunch, const char* logDir) {
    lastCall = StarterCall{exePath, integrityLaunch ? 1 : 0, logDir ? logDir : "(null)", LastSystemError()};
    return kStarterResult;
}

std::int32_t FakeStartQuodrix(const char* address, std::int32_t port, const char* configFile) {
    lastCall = StarterCall{address ? address : "(null)", port, configFile ? configFile : "(null)", LastSystemError()};
    return kStarterResult;
}

struct FlowCase {
    const char* name;
    const char* first;
    std::int32_t number;
    const char* last;
    std::int32_t result;
    std::uint32_t error;
    std::optional<StarterCall> call;
};

void CheckFlow(const FlowCase& c, std::int32_t result) {
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(LastSystemError(), c.error);
    ASSERT_EQ(lastCall.has_value(), c.call.has_value());
    if (c.call) {
        EXPECT_EQ(lastCall->first, c.call->first);
        EXPECT_EQ(lastCall->number, c.call->number);
        EXPECT_EQ(lastCall->last, c.call->last);
        EXPECT_EQ(lastCall->errorAtCall, 0u);
    }
}

TEST(StartDaemonUtf8Flow, ConvertsBothTextsAndNeverPassesANullDirectory) {
    const FlowCase cases[] = {
        {"null path", nullptr, 1, "d", 101, 0, std::nullopt},
        {"path fails to convert", "bad", 1, "d", 1, kConversionError, std::nullopt},
        {"path converts to nothing", "empty", 1, "d", 107, 0, std::nullopt},
        {"directory fails to convert", "p", 0, "bad", 1, kConversionError, std::nullopt},
        {"null directory becomes empty", "p", 1, nullptr, kStarterResult, 0, StarterCall{"<p>", 1, ""}},
        {"directory converted", "p", 0, "d", kStarterResult, 0, StarterCall{"<p>", 0, "<d>"}},
        {"directory converting to nothing", "p", 0, "empty", kStarterResult, 0, StarterCall{"<p>", 0, ""}},
    };
    for (const FlowCase& c : cases) {
        SCOPED_TRACE(c.name);
        lastCall.reset();
        SetLastSystemError(999);
        CheckFlow(c, StartDaemonUtf8Flow(c.first, c.number != 0, c.last, FakeConvert, FakeStartDaemon));
    }
}

TEST(StartQuodrixUtf8Flow, ConvertsTheFileOnlyAndRefusesAMissingOne) {
    const FlowCase cases[] = {
        {"null file", "a", 1, nullptr, -1, 0, std::nullopt},
        {"file fails to convert", "a", 1, "bad", 1, kConversionError, std::nullopt},
        {"file converts to nothing", "a", 1, "empty", -1, 0, std::nullopt},
        {"address passed as it is", "bad", 7001, "c", kStarterResult, 0, StarterCall{"bad", 7001, "<c>"}},
        {"null address passed on", nullptr, -3, "c", kStarterResult, 0, StarterCall{"(null)", -3, "<c>"}},
    };
    for (const FlowCase& c : cases) {
        SCOPED_TRACE(c.name);
        lastCall.reset();
        SetLastSystemError(999);
        CheckFlow(c, StartQuodrixUtf8Flow(c.first, c.number, c.last, FakeConvert, FakeStartQuodrix));
    }
}

}  // namespace
