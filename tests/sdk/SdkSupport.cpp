#include "tests/sdk/SdkSupport.h"

#include "tests/support/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qxtest {

std::string ArchPath(const std::string& arch, const std::string& fileName) {
    if (arch == "x64") return BinPath(fileName);
    // build/bin beside build/x86/bin.
    return BinDir() + "\\..\\x86\\bin\\" + fileName;
}

RecordedRun RecordCallsProgram(const std::string& program) {
    RecordedRun recorded;
    RecordingReceiver receiver;
    if (!receiver.ready()) return recorded;
    recorded.run = RunProgram(Quoted(program));
    recorded.requests = receiver.requests();
    return recorded;
}

void ExpectEveryCallKeepsTheStackPointer(const std::string& arch) {
    RunResult run = RunProgram(Quoted(ArchPath(arch, "qxsdk_callconv.exe")));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::string bits = arch == "x86" ? "32-bit process" : "64-bit process";
    EXPECT_NE(run.output.find(bits), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("all calls kept the stack pointer"), std::string::npos) << run.output;
}

namespace {

RunResult Run(const std::string& qxpilot, const std::string& arguments) {
    return RunProgram(Quoted(qxpilot) + " " + arguments, std::chrono::seconds(60));
}

// The daemon a session started, stopped or killed by its process id at the end, whatever happened.
class SessionDaemon {
public:
    SessionDaemon() = default;
    ~SessionDaemon() { release(); }
    SessionDaemon(const SessionDaemon&) = delete;
    SessionDaemon& operator=(const SessionDaemon&) = delete;
    void adopt(DWORD pid) {
        m_pid = pid;
        m_process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid) : nullptr;
    }
    bool valid() const { return m_process != nullptr; }
    bool waitForExit() const { return m_process != nullptr && WaitForSingleObject(m_process, 30000) == WAIT_OBJECT_0; }

private:
    void release() {
        if (m_process == nullptr) return;
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process, 0xDEAD);
            WaitForSingleObject(m_process, 10000);
        }
        CloseHandle(m_process);
    }
    DWORD m_pid = 0;
    HANDLE m_process = nullptr;
};

}  // namespace

void RunMixedSession(const std::string& qxpilot, const std::string& daemon) {
    KillStrayDaemon();
    StopTerminals();
    TempDir work;
    const std::string journal = work.file("velo.journal");
    const std::string config = work.file("qxpilot.dat");
    WriteFileText(config, "[Extension_A]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.XP\r\n");
    SimulatorRegistration registration({"--journal", journal});
    ASSERT_TRUE(registration.ok()) << registration.output();

    SessionDaemon session;
    struct Cleanup {
        ~Cleanup() {
            KillStrayDaemon();
            StopTerminals();
        }
    } cleanup;

    RunResult started = Run(qxpilot, "start-daemon --exe " + Quoted(daemon) + " --log-dir " + Quoted(work.path()));
    session.adopt(DaemonWindowPid());
    ASSERT_TRUE(started.finished);
    ASSERT_EQ(started.exitCode, 0u) << started.output;
    ASSERT_TRUE(session.valid()) << "no daemon serves after start-daemon";

    for (const std::string& step : {"start 127.0.0.1 7001 " + Quoted(config), std::string("add-module Desk FullQuote"),
                                    std::string("pilot --place 25 --market 1 --symbol ABC")}) {
        SCOPED_TRACE(step);
        RunResult result = Run(qxpilot, step);
        ASSERT_TRUE(result.finished);
        ASSERT_EQ(result.exitCode, 0u) << result.output;
    }
    bool piloted = WaitForJournalCall(journal, "IFullQuoteWindow.Pilot", 1, std::chrono::seconds(30));
    RunResult stopped = Run(qxpilot, "stop");
    EXPECT_EQ(stopped.exitCode, 0u) << stopped.output;
    EXPECT_TRUE(session.waitForExit());

    auto texts = LogTexts(work.path());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Starting QXPilot"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Exiting QXPilot"), texts.end());
    ASSERT_TRUE(piloted) << "the terminal's window was never piloted\n---- log\n"
                         << ReadFileText(FindLogFile(work.path())) << "---- journal\n" << ReadFileText(journal);
    auto pilots = JournalCalls(journal, "IFullQuoteWindow.Pilot");
    ASSERT_EQ(pilots.size(), 1u);
    EXPECT_EQ(pilots[0].get("value"), "ABC.XP");
}

}  // namespace qxtest
