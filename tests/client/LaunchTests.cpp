// StartDaemon against real processes: the command line a launched process receives (a probe program that
// writes it down), the wait until it is ready, the integrity label, and the real daemon with its log.
#include "client/ClientCore.h"
#include "client/IQXPilotSt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

using namespace qxtest;

namespace {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        char old[2048];
        DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        if (length > 0 && length < sizeof old) m_old = std::string(old, length);
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(m_name.c_str(), m_old ? m_old->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& path) {
        char old[MAX_PATH * 2] = {};
        GetCurrentDirectoryA(sizeof old, old);
        m_old = old;
        m_changed = SetCurrentDirectoryA(path.c_str()) != FALSE;
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryA(m_old.c_str()); }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
    bool changed() const { return m_changed; }

private:
    std::string m_old;
    bool m_changed = false;
};

// A process that StartDaemon created, found again by its id; asked to stop, then killed, when the test ends.
class LaunchedProcess {
public:
    explicit LaunchedProcess(DWORD pid)
        : m_pid(pid),
          m_process(pid == 0 ? nullptr
                             : OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {}
    ~LaunchedProcess() {
        if (m_process == nullptr) return;
        // Politely first when it serves requests, so that a daemon closes its log; then make sure.
        if (running() && DaemonWindowPid() == m_pid && StopDaemon() == IQXP_OK) WaitForSingleObject(m_process, 10000);
        if (running()) {
            TerminateProcess(m_process, 0xDEAD);
            WaitForSingleObject(m_process, 10000);
        }
        CloseHandle(m_process);
    }
    LaunchedProcess(const LaunchedProcess&) = delete;
    LaunchedProcess& operator=(const LaunchedProcess&) = delete;

    bool valid() const { return m_process != nullptr; }
    HANDLE handle() const { return m_process; }
    bool running() const { return m_process != nullptr && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    // The exit code once the process has ended (within 30 s), otherwise nothing.
    std::optional<DWORD> waitForExit() const {
        if (m_process == nullptr || WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return code;
    }
    // Sends the stop request through the library and waits for the end.
    std::optional<DWORD> stop() const {
        if (StopDaemon() != IQXP_OK) return std::nullopt;
        return waitForExit();
    }

private:
    DWORD m_pid;
    HANDLE m_process;
};

std::string ProbePath() { return BinPath("qxclient_probe.exe"); }

// What the library kept of the failed system call, for the message of a launch that went wrong.
std::string LaunchFailure() { return "the library's last system error: " + std::to_string(GetSystemLastError()); }
std::string DaemonPath() { return BinPath("QXPilotSt.exe"); }

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// ---- The probe: what a launched process receives.

struct ProbeReport {
    DWORD pid = 0;
    std::string commandLine;
};

class ProbeLaunchTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }

    void setMode(const char* mode) { m_mode.emplace("QXPROBE_MODE", mode); }

    // What the probe wrote; cleared so that the next launch starts afresh.
    std::optional<ProbeReport> takeReport() {
        std::string text = ReadFileText(m_reportPath);
        DeleteFileA(m_reportPath.c_str());
        std::size_t newline = text.find('\n');
        if (newline == std::string::npos) return std::nullopt;
        return ProbeReport{static_cast<DWORD>(std::stoul(text.substr(0, newline))), text.substr(newline + 1)};
    }

    TempDir m_dir;
    std::string m_reportPath = m_dir.file("probe.txt");
    ScopedEnvironment m_out{"QXPROBE_OUT", m_reportPath};
    std::optional<ScopedEnvironment> m_mode;
};

TEST_F(ProbeLaunchTest, TheProcessReceivesTheComposedCommandLine) {
    const std::string probe = ProbePath();
    const std::string prefix = Quoted(probe) + " -log_path=";
    const std::string fits(519 - prefix.size(), 'd');
    struct Case {
        const char* name;
        std::optional<std::string> logDir;
        std::string expected;
    };
    const Case cases[] = {
        {"directory", "C:\\logs", prefix + "C:\\logs"},
        {"empty directory", "", prefix},
        {"blank, no quotes", "C:\\my logs", prefix + "C:\\my logs"},
        {"blank, quoted", "\"C:\\my logs\"", prefix + "\"C:\\my logs\""},
        {"519 characters", fits, prefix + fits},
        {"520 characters cut to 519", fits + "Y", prefix + fits},
        {"far too long", std::string(1000, 'z'), prefix + std::string(519 - prefix.size(), 'z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(StartDaemon(probe.c_str(), 0, c.logDir ? c.logDir->c_str() : nullptr), IQXP_OK) << LaunchFailure();
        auto report = takeReport();
        ASSERT_TRUE(report);
        LaunchedProcess launched(report->pid);
        EXPECT_EQ(report->commandLine, c.expected);
        EXPECT_EQ(launched.stop(), 0u);
    }
}

TEST_F(ProbeLaunchTest, WithoutDirectoryTheProgramIsTheApplicationNameAndNothingFollows) {
    const std::string probe = ProbePath();
    ASSERT_EQ(StartDaemon(probe.c_str(), 0, nullptr), IQXP_OK) << LaunchFailure();
    auto report = takeReport();
    ASSERT_TRUE(report);
    LaunchedProcess launched(report->pid);
    // The platform makes the command line from the application name (Wine quotes it).
    EXPECT_TRUE(report->commandLine == probe || report->commandLine == Quoted(probe)) << report->commandLine;
    EXPECT_EQ(launched.stop(), 0u);
}

TEST_F(ProbeLaunchTest, StartDaemonUtf8AlwaysPassesTheOptionAndConvertsTheDirectory) {
    if (GetACP() != 1252) GTEST_SKIP() << "expectations are written for ANSI code page 1252";
    const std::string probe = ProbePath();  // plain ASCII, the same in UTF-8
    struct Case {
        const char* name;
        const char* logDir;
        std::string expected;
    };
    const Case cases[] = {
        {"null directory", nullptr, Quoted(probe) + " -log_path="},
        {"converted directory", "C:\\caf\xC3\xA9 \xE4\xB8\xAD", Quoted(probe) + " -log_path=C:\\caf\xE9 ?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(StartDaemon_Utf8(probe.c_str(), 0, c.logDir), IQXP_OK);
        auto report = takeReport();
        ASSERT_TRUE(report);
        LaunchedProcess launched(report->pid);
        EXPECT_EQ(report->commandLine, c.expected);
        EXPECT_EQ(launched.stop(), 0u);
    }
}

TEST_F(ProbeLaunchTest, AProcessThatEndsBeforeItIsIdleGives103) {
    setMode("exit");
    const std::string probe = ProbePath();
    for (const char* logDir : {static_cast<const char*>(nullptr), "C:\\logs"}) {
        SCOPED_TRACE(logDir ? logDir : "(null)");
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(StartDaemon(probe.c_str(), 0, logDir), IQXP_NOT_IDLE) << LaunchFailure();
        EXPECT_EQ(GetSystemLastError(), 0) << "no daemon serves, and no system call failed";
        auto report = takeReport();
        ASSERT_TRUE(report) << "the probe did run";
    }
}

TEST_F(ProbeLaunchTest, AnIdleProcessWithoutControlWindowCountsAsStarted) {
    setMode("idle");
    ASSERT_EQ(StartDaemon(ProbePath().c_str(), 0, nullptr), IQXP_OK) << LaunchFailure();
    EXPECT_EQ(GetSystemLastError(), 0);
    auto report = takeReport();
    ASSERT_TRUE(report);
    LaunchedProcess launched(report->pid);
    EXPECT_TRUE(launched.running());
}

TEST_F(ProbeLaunchTest, TheLabelledLaunchGivesTheCallersOwnStandardLevel) {
    const std::string probe = ProbePath();
    ASSERT_EQ(StartDaemon(probe.c_str(), 1, "C:\\logs"), IQXP_OK) << LaunchFailure();
    auto report = takeReport();
    ASSERT_TRUE(report);
    LaunchedProcess launched(report->pid);
    ASSERT_TRUE(launched.valid());
    EXPECT_EQ(report->commandLine, Quoted(probe) + " -log_path=C:\\logs");
    std::string caller = IntegritySidText(GetCurrentProcess());
    std::string child = IntegritySidText(launched.handle());
    std::printf("integrity labels: caller %s, launched probe %s\n", caller.c_str(), child.c_str());
    EXPECT_FALSE(caller.empty());
    EXPECT_EQ(child, caller);
    EXPECT_EQ(launched.stop(), 0u);
}

// ---- The real daemon.

class DaemonLaunchTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }

    TempDir m_dir;
};

TEST_F(DaemonLaunchTest, StartsTheDaemonReadyForRequestsWithItsLogInTheDirectory) {
    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 0, m_dir.path().c_str()), IQXP_OK) << LaunchFailure();
    EXPECT_EQ(GetSystemLastError(), 0);
    // Ready means serving: the control window is there the moment StartDaemon returns.
    DWORD pid = DaemonWindowPid();
    ASSERT_NE(pid, 0u);
    LaunchedProcess daemon(pid);

    // A kind the daemon refuses is logged, cut as the wire cuts it: the request went through.
    ASSERT_EQ(AddPilotingModule("probe", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd"), IQXP_OK);
    EXPECT_EQ(daemon.stop(), 0u);

    auto texts = LogTexts(m_dir.path());
    EXPECT_TRUE(Contains(texts, "Starting QXPilot"));
    EXPECT_TRUE(Contains(texts, "Invalid Piloting Module: ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"));
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "Exiting QXPilot");
    EXPECT_EQ(texts.back(), "Closing log file.");
}

TEST_F(DaemonLaunchTest, WithoutADirectoryTheLogLandsInTheInheritedCurrentDirectory) {
    struct Case {
        const char* name;
        std::function<int32_t(const char*)> start;
    };
    const Case cases[] = {
        {"StartDaemon, null directory", [](const char* exe) { return StartDaemon(exe, 0, nullptr); }},
        {"StartDaemon, empty directory", [](const char* exe) { return StartDaemon(exe, 0, ""); }},
        {"StartDaemon_Utf8, null directory", [](const char* exe) { return StartDaemon_Utf8(exe, 0, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir current;
        ScopedCurrentDirectory inCurrent(current.path());
        ASSERT_TRUE(inCurrent.changed());
        ASSERT_EQ(c.start(DaemonPath().c_str()), IQXP_OK);
        LaunchedProcess daemon(DaemonWindowPid());
        ASSERT_TRUE(daemon.valid());
        EXPECT_EQ(daemon.stop(), 0u);
        EXPECT_TRUE(Contains(LogTexts(current.path()), "Starting QXPilot"));
    }
}

TEST_F(DaemonLaunchTest, ADirectoryWithABlankArrivesWholeOnlyWhenQuoted) {
    const std::string withBlank = m_dir.file("my logs");
    const std::string cutAtBlank = m_dir.file("my");
    ASSERT_TRUE(CreateDirectoryA(withBlank.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(cutAtBlank.c_str(), nullptr));

    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 0, withBlank.c_str()), IQXP_OK) << LaunchFailure();
    {
        LaunchedProcess daemon(DaemonWindowPid());
        EXPECT_EQ(daemon.stop(), 0u);
    }
    EXPECT_TRUE(Contains(LogTexts(cutAtBlank), "Starting QXPilot"));
    EXPECT_EQ(FindLogFile(withBlank), "");

    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 0, Quoted(withBlank).c_str()), IQXP_OK) << LaunchFailure();
    {
        LaunchedProcess daemon(DaemonWindowPid());
        EXPECT_EQ(daemon.stop(), 0u);
    }
    EXPECT_TRUE(Contains(LogTexts(withBlank), "Starting QXPilot"));
}

TEST_F(DaemonLaunchTest, AnOverlongCommandLineIsCutAndTheDaemonStillStarts) {
    // The cut falls in the tail after the blank, which the daemon ignores; the exact cut is shown by the probe.
    std::string logDir = m_dir.path() + " " + std::string(700, 'x');
    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 0, logDir.c_str()), IQXP_OK) << LaunchFailure();
    LaunchedProcess daemon(DaemonWindowPid());
    ASSERT_TRUE(daemon.valid());
    EXPECT_EQ(daemon.stop(), 0u);
    EXPECT_TRUE(Contains(LogTexts(m_dir.path()), "Starting QXPilot"));
}

TEST_F(DaemonLaunchTest, TheLabelledDaemonCarriesTheLabelGivenForTheCaller) {
    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 1, m_dir.path().c_str()), IQXP_OK) << LaunchFailure();
    LaunchedProcess daemon(DaemonWindowPid());
    ASSERT_TRUE(daemon.valid());
    std::string caller = IntegritySidText(GetCurrentProcess());
    std::string launched = IntegritySidText(daemon.handle());
    std::printf("integrity labels: caller %s, labelled daemon %s\n", caller.c_str(), launched.c_str());
    RecordProperty("caller_label", caller);
    RecordProperty("daemon_label", launched);
    EXPECT_FALSE(caller.empty());
    EXPECT_EQ(launched, caller);
    EXPECT_EQ(daemon.stop(), 0u);
    EXPECT_TRUE(Contains(LogTexts(m_dir.path()), "Starting QXPilot"));
}

// An application that calls StartDaemon each time it starts while a daemon serves: the new process logs its
// warning and leaves, and the call reports what the caller needs, a daemon serving the session.
TEST_F(DaemonLaunchTest, ASecondStartDaemonWhileADaemonServesGives0AndTheFirstServesOn) {
    ASSERT_EQ(StartDaemon(DaemonPath().c_str(), 0, m_dir.path().c_str()), IQXP_OK) << LaunchFailure();
    DWORD first = DaemonWindowPid();
    LaunchedProcess daemon(first);
    ASSERT_TRUE(daemon.valid());

    for (int32_t (*start)(const char*, uint8_t, const char*) : {&StartDaemon, &StartDaemon_Utf8}) {
        SetLastError(ERROR_ACCESS_DENIED);  // whatever the thread held before must not come back
        EXPECT_EQ(start(DaemonPath().c_str(), 0, m_dir.path().c_str()), IQXP_OK);
        EXPECT_EQ(GetSystemLastError(), 0);
        EXPECT_EQ(DaemonWindowPid(), first);
    }
    EXPECT_EQ(ProcessesNamed("QXPilotSt.exe").size(), 1u) << "the second processes ended by themselves";
    auto texts = LogTexts(m_dir.path());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "QXPilot already running, Existing."), 2);

    ASSERT_EQ(AddPilotingModule("probe", "StillHere"), IQXP_OK);
    EXPECT_EQ(daemon.stop(), 0u);
    EXPECT_TRUE(Contains(LogTexts(m_dir.path()), "Invalid Piloting Module: StillHere"));
}

// The daemon's single-instance guard, held by this process: the new daemon leaves as a second one does, but
// no daemon's window is there afterwards, so the start failed.
TEST_F(DaemonLaunchTest, ADaemonThatLeavesWithNoDaemonServingGives103AndNoError) {
    HANDLE guard = CreateMutexA(nullptr, TRUE, "AE98B5E5-94ED-40be-9F07-41E6F2189B21");
    ASSERT_NE(guard, nullptr);
    ASSERT_EQ(DaemonWindowPid(), 0u);
    SetLastError(ERROR_ACCESS_DENIED);
    int32_t rc = StartDaemon(DaemonPath().c_str(), 0, m_dir.path().c_str());
    DWORD error = static_cast<DWORD>(GetSystemLastError());
    CloseHandle(guard);
    EXPECT_EQ(rc, IQXP_NOT_IDLE);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(DaemonWindowPid(), 0u);
    EXPECT_TRUE(ProcessesNamed("QXPilotSt.exe").empty());
    EXPECT_TRUE(Contains(LogTexts(m_dir.path()), "QXPilot already running, Existing."));
}

}  // namespace
