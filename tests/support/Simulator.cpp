#include "tests/support/Simulator.h"

#include <cstdio>

namespace qxtest {

namespace {

std::string VeloCommand(const std::vector<std::string>& arguments, const std::string& program = {}) {
    std::string command = Quoted(program.empty() ? BinPath("Velo.exe") : program);
    std::string tail = SimulatorArguments(arguments);
    if (!tail.empty()) {
        command += ' ';
        command += tail;
    }
    return command;
}

void KillPid(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return;
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

}  // namespace

std::string SimulatorArguments(const std::vector<std::string>& options) {
    std::string tail;
    for (const auto& option : options) {
        if (!tail.empty()) tail += ' ';
        tail += velo::QuoteArgument(option);
    }
    return tail;
}

SimulatorRegistration::SimulatorRegistration(const std::vector<std::string>& options) {
    std::vector<std::string> arguments{"/RegServer"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    RunResult result = RunProgram(VeloCommand(arguments));
    m_ok = result.finished && result.exitCode == 0;
    m_output = result.output;
}

SimulatorRegistration::~SimulatorRegistration() { UnregisterSimulator(); }

bool UnregisterSimulator() {
    RunResult result = RunProgram(VeloCommand({"/UnregServer"}));
    return result.finished && result.exitCode == 0;
}

std::vector<DWORD> TerminalPids() { return ProcessesNamed("Velo.exe"); }

void PrintLogAndJournalEnds(const std::string& logDir, const std::string& journal, std::size_t logChars,
                            std::size_t journalChars) {
    auto end = [](std::string text, std::size_t chars) {
        return text.size() > chars ? "..." + text.substr(text.size() - chars) : text;
    };
    const std::string log = end(ReadFileText(FindLogFile(logDir)), logChars);
    const std::string journalEnd = end(ReadFileText(journal), journalChars);
    std::printf("---- end of log\n%s\n---- end of journal\n%s\n----\n", log.c_str(), journalEnd.c_str());
}

bool SignalTerminal(DWORD pid, const std::string& trigger) {
    std::string name = "VeloSim_";
    name += trigger;
    name += '_';
    name += std::to_string(pid);
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) return false;
    BOOL set = SetEvent(event);
    CloseHandle(event);
    return set != FALSE;
}

void StopTerminals(std::chrono::milliseconds grace) {
    for (DWORD pid : TerminalPids()) SignalTerminal(pid, "Quit");
    WaitUntil([] { return TerminalPids().empty(); }, grace);
    for (DWORD pid : TerminalPids()) {
        // Worth a line: Wine may refuse the class for minutes after a server is killed.
        std::printf("[terminal] Velo.exe pid %lu did not quit within %lld ms: killed\n", static_cast<unsigned long>(pid),
                    static_cast<long long>(grace.count()));
        KillPid(pid);
    }
}

std::optional<DWORD> EndSessionProcesses(Daemon& daemon, Simulator& simulator, std::chrono::milliseconds stopTimeout) {
    std::optional<DWORD> stopped;
    if (daemon.process().running()) stopped = daemon.stop(stopTimeout);
    KillStrayDaemon();
    simulator.quit();
    StopTerminals();
    return stopped;
}

void EndStrayProcesses() {
    KillStrayDaemon();
    StopTerminals();
}

Simulator::~Simulator() {
    if (m_process.running() && !quit(std::chrono::seconds(5))) {
        std::printf("[terminal] Velo.exe pid %lu did not quit within 5 s: killed\n",
                    static_cast<unsigned long>(m_process.pid()));
        m_process.kill();
    }
    m_process.kill();
}

bool Simulator::start(const std::string& journal, const std::vector<std::string>& options,
                      const std::string& program) {
    std::vector<std::string> arguments{"--journal", journal};
    arguments.insert(arguments.end(), options.begin(), options.end());
    if (!m_process.start(VeloCommand(arguments, program))) return false;
    std::string pid = std::to_string(m_process.pid());
    return WaitUntil(
        [&] {
            if (!m_process.running()) return true;
            for (const auto& entry : JournalCalls(journal, "Velo.Start"))
                if (entry.get("pid") == pid) return true;
            return false;
        },
        std::chrono::seconds(20)) &&
           m_process.running();
}

std::optional<DWORD> Simulator::quit(std::chrono::milliseconds timeout) {
    if (!m_process.running()) return m_process.wait(std::chrono::milliseconds(0));
    SignalTerminal(pid(), "Quit");
    return m_process.wait(timeout);
}

std::string CopySimulator(const std::string& dir, const std::string& imageName) {
    std::string copy = dir + "\\" + imageName;
    return CopyFileA(BinPath("Velo.exe").c_str(), copy.c_str(), FALSE) ? copy : std::string();
}

std::vector<JournalEntry> ReadJournal(const std::string& path) {
    std::vector<JournalEntry> entries;
    std::string text = ReadFileText(path);
    // Only whole lines: a line still being written has no CR LF yet.
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        if (auto entry = velo::ParseJournalLine(text.substr(start, end - start))) entries.push_back(std::move(*entry));
        start = end + 2;
    }
    return entries;
}

std::vector<JournalEntry> JournalCalls(const std::string& path, const std::string& call) {
    std::vector<JournalEntry> calls;
    for (auto& entry : ReadJournal(path))
        if (entry.call == call) calls.push_back(std::move(entry));
    return calls;
}

bool WaitForJournalCall(const std::string& path, const std::string& call, std::size_t count,
                        std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return JournalCalls(path, call).size() >= count; }, timeout);
}

}  // namespace qxtest
