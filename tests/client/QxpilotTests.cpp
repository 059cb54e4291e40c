// qxpilot's client commands as an operator runs them: a whole session against the real daemon, the bytes each
// command puts on the wire from its own process, and the exit statuses and messages of failures.
#include "client/IQXPilotSt.h"
#include "tests/client/RecordingReceiver.h"
#include "tests/client/WireBytes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <string>

using namespace qxtest;

namespace {

RunResult Qxpilot(const std::string& arguments, const std::string& workingDir = {}) {
    return RunProgram(Quoted(BinPath("qxpilot.exe")) + " " + arguments, std::chrono::seconds(60), workingDir);
}

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_search(text, std::regex(pattern));
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The daemon that a qxpilot command started, stopped (or killed) by its process id when the test ends.
class DaemonByPid {
public:
    explicit DaemonByPid(DWORD pid)
        : m_pid(pid), m_process(pid ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid) : nullptr) {}
    ~DaemonByPid() {
        if (m_process == nullptr) return;
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT && DaemonWindowPid() == m_pid &&
            StopDaemon() == IQXP_OK)
            WaitForSingleObject(m_process, 10000);
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process, 0xDEAD);
            WaitForSingleObject(m_process, 10000);
        }
        CloseHandle(m_process);
    }
    DaemonByPid(const DaemonByPid&) = delete;
    DaemonByPid& operator=(const DaemonByPid&) = delete;

    bool valid() const { return m_process != nullptr; }
    std::optional<DWORD> waitForExit() const {
        if (m_process == nullptr || WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return code;
    }

private:
    DWORD m_pid;
    HANDLE m_process;
};

class QxpilotTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }
};

TEST_F(QxpilotTest, DrivesAWholeSessionByHand) {
    TempDir dir;
    std::string config = dir.file("qxpilot.dat");
    WriteFileText(config, "[Extension_A]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.XP\r\n");

    RunResult started = Qxpilot("start-daemon --log-dir " + dir.path());
    ASSERT_TRUE(started.finished);
    DaemonByPid daemon(DaemonWindowPid());
    ASSERT_EQ(started.exitCode, 0u) << started.output;
    ASSERT_TRUE(daemon.valid());
    EXPECT_TRUE(Matches(started.output, "daemon started and ready: .*QXPilotSt\\.exe, log directory ")) << started.output;

    struct Step {
        std::string arguments;
        std::string output;  // regex
    };
    const Step steps[] = {
        {"start 127.0.0.1 7001 " + Quoted(config), "start request sent: terminal server 127\\.0\\.0\\.1:7001"},
        {"add-module Trader Vista", "module request sent: Trader pilots Vista"},
        {"add-module Trader Hologram", "module request sent: Trader pilots Hologram"},
        {"pilot --place 25 --market 1 --symbol ABC --isin=XS0000000017",
         "pilot request sent: place 25, market 1, symbol ABC, isin XS0000000017"},
        {"stop", "stop request sent"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.arguments);
        RunResult result = Qxpilot(step.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0u) << result.output;
        EXPECT_TRUE(Matches(result.output, step.output)) << result.output;
    }
    EXPECT_EQ(daemon.waitForExit(), 0u);

    auto texts = LogTexts(dir.path());
    EXPECT_TRUE(Contains(texts, "Starting QXPilot"));
    EXPECT_TRUE(Contains(texts, "Invalid Piloting Module: Hologram"));
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "Exiting QXPilot");

    RunResult again = Qxpilot("stop");
    EXPECT_EQ(again.exitCode, 100u);
    EXPECT_TRUE(Matches(again.output, "qxpilot stop: no QXPilot daemon is running .*\\(code 100\\)")) << again.output;
}

TEST_F(QxpilotTest, EachCommandPutsItsArgumentsOnTheWireFromItsOwnProcess) {
    RecordingReceiver receiver;
    ASSERT_TRUE(receiver.ready());
    struct Case {
        std::string arguments;
        ULONG_PTR code;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"start 10.1.2.3 7001 cfg.dat", 1,
         WireBytes(wire::kStartSize).text(0, 64, "10.1.2.3").int32(64, 7001).text(68, 256, "cfg.dat").bytes()},
        {"start 10.1.2.3 -7", 1, WireBytes(wire::kStartSize).text(0, 64, "10.1.2.3").int32(64, -7).bytes()},
        {"add-module Trader All", 2, WireBytes(wire::kModuleSize).text(0, 32, "Trader").text(32, 32, "All").bytes()},
        {"pilot --place 25 --code-middle 7 --market=1 --extra-number 0x10 --symbol ABC --extra-code XC --group G1 "
         "--isin XS0000000017 --currency EUR --credit-class CC --underlying UND",
         3,
         WireBytes(wire::kPilotSize)
             .int32(0, 25).int32(4, 7).int32(8, 1).int32(12, 16)
             .text(16, 33, "ABC").text(49, 11, "XC").text(60, 6, "G1").text(66, 13, "XS0000000017")
             .text(79, 4, "EUR").text(83, 6, "CC").text(89, 33, "UND")
             .bytes()},
        {"pilot", 3, WireBytes(wire::kPilotSize).bytes()},
        {"stop", 4, {}},
    };
    if (GetACP() == 1252) {
        cases.push_back({"start --utf8 10.1.2.3 1 caf\xE9.dat", 1,
                         WireBytes(wire::kStartSize).text(0, 64, "10.1.2.3").int32(64, 1).text(68, 256, "caf\xE9.dat")
                             .bytes()});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        receiver.clear();
        RunResult result = Qxpilot(c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0u) << result.output;
        auto requests = receiver.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(SameRequest(requests[0], c.code, c.bytes));
    }
}

TEST_F(QxpilotTest, FailuresExitWithTheReturnCodeAndSayWhy) {
    ASSERT_EQ(DaemonWindowPid(), 0u);
    struct Case {
        std::string arguments;
        DWORD exitCode;
        std::string output;  // regex
    };
    const Case cases[] = {
        {"stop", 100, "qxpilot stop: no QXPilot daemon is running.*\\(code 100\\)"},
        {"add-module Trader Vista", 100, "qxpilot add-module: no QXPilot daemon.*\\(code 100\\)"},
        {"pilot --place 1", 100, "qxpilot pilot: no QXPilot daemon.*\\(code 100\\)"},
        {"start 1.2.3.4 5 c.dat", 100, "qxpilot start: no QXPilot daemon.*\\(code 100\\)"},
        {"start --utf8 1.2.3.4 5", 0xFFFFFFFF, "configuration file name is missing or empty \\(code -1\\)"},
        {"start-daemon --exe C:\\nonexistent\\QXPilotSt.exe", 102,
         "could not be created \\(code 102\\); the thread's last error is system error \\d+: "},
        {"start-daemon --utf8 --exe \"\"", 107, "executable path is empty \\(code 107\\)"},
        {"last-error", 0, "last system error of this process: 0 \\(none\\)"},
        {"last-error 2", 0, "system error 2: \\S"},
        // Argument errors: status 2, the problem and the usage line.
        {"start 1.2.3.4", 2, "ADDRESS and PORT are required[\\s\\S]*usage: qxpilot start ADDRESS PORT"},
        {"start 1.2.3.4 port", 2, "PORT must be a 32-bit number, not 'port'"},
        {"start 1.2.3.4 99999999999", 2, "PORT must be a 32-bit number"},
        {"add-module OnlyOne", 2, "MODULE and KIND are required"},
        {"pilot --place", 2, "--place needs a number"},
        {"pilot --market x", 2, "--market must be a 32-bit number, not 'x'"},
        {"pilot --colour red", 2, "unexpected argument '--colour'"},
        {"start-daemon --exe", 2, "--exe needs a path"},
        {"stop now", 2, "takes no arguments"},
        {"last-error x", 2, "CODE must be a number"},
        // Help.
        {"stop --help", 0, "usage: qxpilot stop"},
        {"pilot -h", 0, "usage: qxpilot pilot[\\s\\S]*--credit-class"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        RunResult result = Qxpilot(c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_TRUE(Matches(result.output, c.output)) << result.output;
    }
    EXPECT_EQ(DaemonWindowPid(), 0u) << "no command may leave a daemon behind";
}

TEST_F(QxpilotTest, WithoutTheLibraryBesideItQxpilotSaysSo) {
    TempDir alone;
    std::string copy = alone.file("qxpilot.exe");
    ASSERT_TRUE(CopyFileA(BinPath("qxpilot.exe").c_str(), copy.c_str(), FALSE));
    RunResult result = RunProgram(Quoted(copy) + " stop");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_TRUE(Matches(result.output, "qxpilot: cannot load .*IQXPilotSt\\.dll: system error")) << result.output;
}

// The SDK's C example (examples/c/session.c), compiled as C against the header and the import library.
TEST_F(QxpilotTest, TheCExampleRunsASession) {
    TempDir dir;
    RunResult result = RunProgram(Quoted(BinPath("client_c_example.exe")) + " " + Quoted(BinPath("QXPilotSt.exe")) +
                                  " " + Quoted(dir.path()));
    DaemonByPid leftover(DaemonWindowPid());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    auto texts = LogTexts(dir.path());
    EXPECT_TRUE(Contains(texts, "Starting QXPilot"));
    EXPECT_TRUE(Contains(texts, "Exiting QXPilot"));
}

}  // namespace
