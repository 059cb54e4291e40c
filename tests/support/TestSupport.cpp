#include "tests/support/TestSupport.h"

#include "common/QXRequests.h"

#include <tlhelp32.h>

#include <cstdio>
#include <thread>

namespace qxtest {

std::string BinDir() {
    char path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, n);
    return full.substr(0, full.find_last_of("\\/"));
}

std::string BinPath(const std::string& fileName) { return BinDir() + "\\" + fileName; }

std::string Quoted(const std::string& text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

namespace {

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH * 2];
        std::snprintf(name, sizeof name, "%sqxtest_%lu_%u_%lu", base, GetCurrentProcessId(), ++counter,
                      GetTickCount());
        if (CreateDirectoryA(name, nullptr)) {
            m_path = name;
            if (!m_path.empty() && m_path.back() == '\\') m_path.pop_back();
            return;
        }
    }
}

TempDir::~TempDir() { RemoveTree(m_path); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        m_process = other.m_process;
        m_output = other.m_output;
        m_pid = other.m_pid;
        other.m_process = nullptr;
        other.m_output = nullptr;
        other.m_pid = 0;
    }
    return *this;
}

ChildProcess::~ChildProcess() { kill(); }

bool ChildProcess::start(const std::string& commandLine, const std::string& workingDir, bool captureOutput) {
    kill();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE writeEnd = nullptr;
    if (captureOutput) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        m_output = readEnd;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
    }
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, captureOutput, 0, nullptr,
                                  workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info);
    if (writeEnd != nullptr) CloseHandle(writeEnd);
    if (!created) {
        // Under a loaded Wine this fails now and then; the error is the only trace of why.
        DWORD error = GetLastError();
        std::printf("[process] CreateProcessA failed with error %lu: %s\n", static_cast<unsigned long>(error),
                    commandLine.c_str());
        if (m_output) CloseHandle(m_output), m_output = nullptr;
        return false;
    }
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_pid = info.dwProcessId;
    return true;
}

bool ChildProcess::running() const {
    return m_process != nullptr && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (m_process == nullptr) return std::nullopt;
    if (WaitForSingleObject(m_process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return code;
}

void ChildProcess::kill() {
    if (m_process != nullptr) {
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process, 0xDEAD);
            WaitForSingleObject(m_process, 10000);
        }
        CloseHandle(m_process);
        m_process = nullptr;
    }
    if (m_output != nullptr) {
        CloseHandle(m_output);
        m_output = nullptr;
    }
    m_pid = 0;
}

std::string ChildProcess::readOutput() {
    std::string text;
    if (m_output == nullptr) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(m_output, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

RunResult RunProgram(const std::string& commandLine, std::chrono::milliseconds timeout, const std::string& workingDir) {
    RunResult result;
    ChildProcess child;
    if (!child.start(commandLine, workingDir, true)) return result;
    // Read on a side thread so that a chatty child cannot block on a full pipe.
    std::string output;
    std::thread reader([&] { output = child.readOutput(); });
    auto code = child.wait(timeout);
    if (!code) child.kill();
    reader.join();
    result.output = std::move(output);
    result.finished = code.has_value();
    result.exitCode = code.value_or(0xFFFFFFFF);
    return result;
}

DWORD DaemonWindowPid() {
    HWND window = FindWindowA(kControlWindowClass, nullptr);
    if (window == nullptr) return 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

void KillStrayDaemon() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        DWORD pid = DaemonWindowPid();
        if (pid == 0) return;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (process != nullptr) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
        WaitUntil([] { return DaemonWindowPid() == 0; }, std::chrono::seconds(5));
    }
}

std::vector<DWORD> ProcessesNamed(const std::string& imageName) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (imageName == entry.szExeFile) pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

HostedWindow::HostedWindow(const char* className, WNDPROC procedure, void* createParam) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);  // already registered by an earlier test of the program: fine
    m_window = CreateWindowExA(0, className, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               nullptr, nullptr, GetModuleHandleA(nullptr), createParam);
}

HostedWindow::~HostedWindow() {
    if (m_window != nullptr && IsWindow(m_window)) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

Daemon::~Daemon() {
    if (m_process.running()) {
        // Ask politely first so that the daemon releases the terminal, then make sure.
        if (DaemonWindowPid() == m_process.pid()) SendRequest(PILOT_REQ_STOP, nullptr, 0);
        if (!m_process.wait(std::chrono::seconds(10))) m_process.kill();
    }
    m_process.kill();
}

bool Daemon::start(const std::string& arguments, const std::string& workingDir) {
    std::string command = Quoted(BinPath("QXPilotSt.exe"));
    if (!arguments.empty()) command += " " + arguments;
    if (!m_process.start(command, workingDir)) return false;
    DWORD pid = m_process.pid();
    return WaitUntil([&] { return DaemonWindowPid() == pid || !m_process.running(); }, std::chrono::seconds(20)) &&
           DaemonWindowPid() == pid;
}

std::optional<DWORD> Daemon::stop(std::chrono::milliseconds timeout) {
    if (!m_process.running()) return m_process.wait(std::chrono::milliseconds(0));
    SendRequest(PILOT_REQ_STOP, nullptr, 0);
    return m_process.wait(timeout);
}

bool SendRequest(ULONG_PTR code, const void* data, DWORD size) {
    HWND window = FindWindowA(kControlWindowClass, nullptr);
    if (window == nullptr) return false;
    COPYDATASTRUCT copy{};
    copy.dwData = code;
    copy.cbData = size;
    copy.lpData = const_cast<void*>(data);
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    return true;
}

std::string FindLogFile(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\qxpilotst_*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return dir + "\\" + found.cFileName;
}

std::string ReadFileText(const std::string& path) {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

void WriteFileText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

std::vector<std::string> LogTexts(const std::string& dir) {
    std::vector<std::string> texts;
    std::string file = FindLogFile(dir);
    if (file.empty()) return texts;
    for (const std::string& line : SplitLines(ReadFileText(file)))
        texts.push_back(line.size() >= 18 ? line.substr(18) : line);
    return texts;
}

bool WaitForLogText(const std::string& dir, const std::string& text, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            for (const std::string& line : LogTexts(dir))
                if (line == text) return true;
            return false;
        },
        timeout);
}

bool SendLogMarker(const std::string& logDir, const std::string& marker) {
    ModuleRequest module{};
    CopyField(module.moduleName, "probe");
    CopyField(module.windowKind, marker.c_str());
    return SendRequest(PILOT_REQ_ADD_MODULE, &module, sizeof module) &&
           WaitForLogText(logDir, "Invalid Piloting Module: " + marker);
}

}  // namespace qxtest
