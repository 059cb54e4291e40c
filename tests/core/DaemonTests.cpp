// The daemon as a real process: lifecycle, single instance, request dispatch and its log.
#include "common/QXRequests.h"
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace qxtest;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

int Count(const std::vector<std::string>& texts, const std::string& text) {
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }

    void StartDaemon() { ASSERT_TRUE(daemon.startWithLog(logDir.path())) << "daemon did not come up"; }

    void ExpectServing(const std::string& marker) { ASSERT_TRUE(SendLogMarker(logDir.path(), marker)) << marker; }

    TempDir logDir;
    Daemon daemon;
};

TEST_F(DaemonTest, StopRequestEndsTheDaemonWithExitCodeZero) {
    StartDaemon();
    ASSERT_EQ(daemon.stop(), 0u);
    auto texts = LogTexts(logDir.path());
    ASSERT_GE(texts.size(), 13u);
    EXPECT_EQ(texts[0], "<start-header>");
    EXPECT_EQ(texts[9], "<end-header>");
    EXPECT_EQ(texts[10], "Starting QXPilot");
    EXPECT_THAT(std::vector<std::string>(texts.end() - 2, texts.end()),
                ElementsAre("Exiting QXPilot", "Closing log file."));
    EXPECT_EQ(DaemonWindowPid(), 0u);
}

TEST_F(DaemonTest, SecondInstanceLogsAndExitsWhileTheFirstServes) {
    StartDaemon();
    RunResult second = RunProgram("\"" + BinPath("QXPilotSt.exe") + "\" -log_path=" + logDir.path());
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(static_cast<int>(second.exitCode), -1);
    EXPECT_EQ(DaemonWindowPid(), daemon.pid());

    auto texts = LogTexts(logDir.path());
    // The second daemon's whole life, appended to the same file.
    auto warning = std::find(texts.begin(), texts.end(), "QXPilot already running, Existing.");
    ASSERT_NE(warning, texts.end());
    EXPECT_EQ(*(warning - 1), "Starting QXPilot");
    EXPECT_EQ(*(warning - 2), "<end-header>");
    ASSERT_GE(texts.end() - warning, 3);
    EXPECT_EQ(*(warning + 1), "Exiting QXPilot");
    EXPECT_EQ(*(warning + 2), "Closing log file.");
    EXPECT_EQ(Count(texts, "<start-header>"), 2);

    ExpectServing("StillHere");
    EXPECT_EQ(daemon.stop(), 0u);
}

TEST_F(DaemonTest, UnknownCodesAreIgnored) {
    StartDaemon();
    unsigned char bytes[324] = {};
    std::memset(bytes, 'Q', sizeof bytes);
    for (ULONG_PTR code : {0u, 5u, 6u, 0x10000u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(SendRequest(code, bytes, sizeof bytes));
        EXPECT_TRUE(SendRequest(code, nullptr, 0));
    }
    ExpectServing("AfterUnknownCodes");
    auto texts = LogTexts(logDir.path());
    // Nothing but the probe since the start.
    auto started = std::find(texts.begin(), texts.end(), "Starting QXPilot");
    ASSERT_NE(started, texts.end());
    EXPECT_EQ(texts.end() - started, 2);
}

TEST_F(DaemonTest, MalformedRecordsAreLoggedOnceAndIgnored) {
    StartDaemon();
    unsigned char bytes[400] = {};
    EXPECT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, bytes, 323));
    EXPECT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, nullptr, 324));
    EXPECT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, bytes, 10));
    EXPECT_TRUE(SendRequest(PILOT_REQ_PILOT, bytes, 123));
    EXPECT_TRUE(SendRequest(PILOT_REQ_PILOT, nullptr, 0));
    ExpectServing("AfterMalformed");

    auto texts = LogTexts(logDir.path());
    EXPECT_EQ(Count(texts, "Malformed request 1 ignored: 323 bytes received, 324 expected"), 1);
    EXPECT_EQ(Count(texts, "Malformed request 1 ignored: no record"), 1);
    EXPECT_EQ(Count(texts, "Malformed request 2 ignored: 10 bytes received, 64 expected"), 1);
    EXPECT_EQ(Count(texts, "Malformed request 3 ignored: 123 bytes received, 124 expected"), 1);
    EXPECT_EQ(Count(texts, "Malformed request 3 ignored: no record"), 1);
    // The short start request was not carried out.
    EXPECT_EQ(Count(texts, " Quodrix started on demand"), 0);
    for (const std::string& line : SplitLines(ReadFileText(FindLogFile(logDir.path()))))
        EXPECT_GE(line.size(), 18u) << "torn line [" << line << "]";
}

TEST_F(DaemonTest, UnterminatedFieldsAreReadWithinTheirWidth) {
    StartDaemon();
    ModuleRequest module;
    std::memset(&module, 'K', sizeof module);  // no terminator in either field
    EXPECT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, &module, sizeof module));
    EXPECT_TRUE(WaitForLogText(logDir.path(), "Invalid Piloting Module: " + std::string(32, 'K')));
    ExpectServing("AfterUnterminated");
}

TEST_F(DaemonTest, RawSenderToolReachesTheDaemon) {
    StartDaemon();
    RunResult sent = RunProgram("\"" + BinPath("qxsend.exe") + "\" module --cstr 0 Trader --text 32 Gadget --cb 64");
    ASSERT_TRUE(sent.finished);
    EXPECT_EQ(sent.exitCode, 0u) << sent.output;
    EXPECT_TRUE(WaitForLogText(logDir.path(), "Invalid Piloting Module: Gadget"));
    RunResult shortOne = RunProgram("\"" + BinPath("qxsend.exe") + "\" 3 --size 16");
    EXPECT_EQ(shortOne.exitCode, 0u) << shortOne.output;
    EXPECT_TRUE(WaitForLogText(logDir.path(), "Malformed request 3 ignored: 16 bytes received, 124 expected"));
    RunResult stop = RunProgram("\"" + BinPath("qxsend.exe") + "\" stop");
    EXPECT_EQ(stop.exitCode, 0u);
    EXPECT_EQ(daemon.process().wait(std::chrono::seconds(20)), 0u);
    RunResult none = RunProgram("\"" + BinPath("qxsend.exe") + "\" stop");
    EXPECT_EQ(none.exitCode, 100u);
}

TEST_F(DaemonTest, FirstStartRequestIsCarriedOutOnce) {
    StartDaemon();
    StartRequest start{};
    CopyField(start.address, "127.0.0.1");
    start.port = 7001;
    EXPECT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, &start, sizeof start));
    EXPECT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, &start, sizeof start));
    ExpectServing("AfterStarts");
    auto texts = LogTexts(logDir.path());
    EXPECT_EQ(Count(texts, "Request for opening quodrix received from Tolvane"), 1);
    EXPECT_EQ(Count(texts, " Quodrix started on demand"), 1);
}

TEST_F(DaemonTest, CloseMessageFromOutsideIsRefused) {
    StartDaemon();
    HWND window = FindWindowA(kControlWindowClass, nullptr);
    ASSERT_NE(window, nullptr);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    ExpectServing("AfterClose");
    EXPECT_EQ(daemon.stop(), 0u);
}

TEST_F(DaemonTest, WithoutLogPathTheLogLandsInTheWorkingDirectory) {
    TempDir cwd;
    ASSERT_TRUE(daemon.start("", cwd.path()));
    ASSERT_EQ(daemon.stop(), 0u);
    std::string log = FindLogFile(cwd.path());
    ASSERT_FALSE(log.empty());
    EXPECT_NE(ReadFileText(log).find("Starting QXPilot"), std::string::npos);
}

TEST_F(DaemonTest, QuotedLogPathWithABlank) {
    std::string spaced = logDir.path() + "\\my logs";
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), nullptr));
    ASSERT_TRUE(daemon.start("-log_path=\"" + spaced + "\""));
    ASSERT_EQ(daemon.stop(), 0u);
    EXPECT_FALSE(FindLogFile(spaced).empty());
}

TEST_F(DaemonTest, UnquotedLogPathIsCutAtTheBlank) {
    std::string my = logDir.path() + "\\my";
    ASSERT_TRUE(CreateDirectoryA(my.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((my + " logs").c_str(), nullptr));
    ASSERT_TRUE(daemon.start("-log_path=" + my + " logs"));
    ASSERT_EQ(daemon.stop(), 0u);
    EXPECT_FALSE(FindLogFile(my).empty());
    EXPECT_TRUE(FindLogFile(my + " logs").empty());
}

TEST_F(DaemonTest, UnopenableLogDirectoryStillServes) {
    ASSERT_TRUE(daemon.start("-log_path=\"" + logDir.path() + "\\never closed"));
    EXPECT_EQ(DaemonWindowPid(), daemon.pid());
    EXPECT_EQ(daemon.stop(), 0u);
}

}  // namespace
