// Helpers shared by the test programs: paths, temporary folders, child processes, the daemon, log files.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qxtest {

// Folder of the running test program; every program of the build sits beside it.
std::string BinDir();
std::string BinPath(const std::string& fileName);
// The text between double quotes, for command lines.
std::string Quoted(const std::string& text);

// A fresh folder under the temporary folder, removed with its content on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Polls `condition` until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10),
               std::chrono::milliseconds step = std::chrono::milliseconds(20));

// A child process, killed on destruction if still running.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();

    // Starts `commandLine` (program quoted by the caller if needed). Returns false on failure.
    bool start(const std::string& commandLine, const std::string& workingDir = {}, bool captureOutput = false);
    bool running() const;
    // Exit code once ended within `timeout`, otherwise nothing.
    std::optional<DWORD> wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void kill();
    DWORD pid() const { return m_pid; }
    HANDLE handle() const { return m_process; }
    // Standard output and error, when captured; read until the process closes them.
    std::string readOutput();

private:
    HANDLE m_process = nullptr;
    HANDLE m_output = nullptr;
    DWORD m_pid = 0;
};

// Runs a program to its end and returns its exit code and output.
struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
    bool finished = false;
};
RunResult RunProgram(const std::string& commandLine, std::chrono::milliseconds timeout = std::chrono::seconds(60),
              const std::string& workingDir = {});

// Process id owning the daemon's control window, 0 when there is none.
DWORD DaemonWindowPid();
// Kills any daemon left over by an earlier, crashed test so that each test starts clean.
void KillStrayDaemon();
// Ids of the running processes whose image name is exactly `imageName`.
std::vector<DWORD> ProcessesNamed(const std::string& imageName);

// A window of class `className` (registered here with `procedure`) created with `createParam`, for driving a
// window procedure in-process. Destruction first clears GWLP_USERDATA, so that the procedure sees no owner
// while the window goes away.
class HostedWindow {
public:
    HostedWindow(const char* className, WNDPROC procedure, void* createParam);
    ~HostedWindow();
    HostedWindow(const HostedWindow&) = delete;
    HostedWindow& operator=(const HostedWindow&) = delete;
    HWND get() const { return m_window; }

private:
    HWND m_window = nullptr;
};

// A QXPilotSt.exe started for a test, stopped or killed (by its process id) when the test ends.
class Daemon {
public:
    Daemon() = default;
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Starts the daemon with `arguments` as its command line tail and waits (bounded) for its window.
    bool start(const std::string& arguments, const std::string& workingDir = {});
    // Convenience: "-log_path=<dir>".
    bool startWithLog(const std::string& logDir) { return start("-log_path=" + logDir); }
    // Sends the stop request and waits for the process to end; its exit code, or nothing on time-out.
    std::optional<DWORD> stop(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ChildProcess& process() { return m_process; }
    DWORD pid() const { return m_process.pid(); }

private:
    ChildProcess m_process;
};

// Sends a WM_COPYDATA request to the daemon's window; false when there is no window.
bool SendRequest(ULONG_PTR code, const void* data, DWORD size);

// The daemon's log file in `dir` (qxpilotst_*.log), empty when none.
std::string FindLogFile(const std::string& dir);
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
// Lines of a CR LF text (a final line without CR LF is kept too, so torn lines show up).
std::vector<std::string> SplitLines(const std::string& text);
// The log lines with their 18-character prefix removed.
std::vector<std::string> LogTexts(const std::string& dir);
// Sends the daemon a module request whose window kind `marker` is refused and waits for its log line: proof that
// the daemon still serves requests, and a mark in the log after everything sent before it.
bool SendLogMarker(const std::string& logDir, const std::string& marker);
// Waits until the log in `dir` holds a line whose text (after the prefix) equals `text`.
bool WaitForLogText(const std::string& dir, const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace qxtest
