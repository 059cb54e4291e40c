// Velo.exe: a stand-in for the Quodrix terminal's automation server, for development and tests.
// See --help (VeloOptions.cpp) and docs/simulator.md.
#include "tools/velo/VeloOptions.h"
#include "tools/velo/VeloRegistry.h"
#include "tools/velo/VeloServer.h"
#include "tools/velo/VeloText.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace velo;

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : m_h(h) {}
    ~Handle() {
        if (m_h && m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

class ComApartment {
public:
    ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return m_hr; }

private:
    HRESULT m_hr;
};

// The class object registered for every client. COM hands it to each client anew, so it is held by a strong
// external lock as well, like every object of the server (HandedObjects): no client's Release deletes its stub.
class ClassRegistration {
public:
    ClassRegistration() = default;
    ~ClassRegistration() {
        revoke();
        if (m_locked) CoDisconnectObject(m_factory, 0);
    }
    // New clients get a new server from here on; under Wine, a server that is ended before revoking leaves
    // its class refused for minutes.
    void revoke() {
        if (m_cookie) CoRevokeClassObject(m_cookie);
        m_cookie = 0;
    }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;
    HRESULT add(IClassFactory* factory) {
        HRESULT hr = CoLockObjectExternal(factory, TRUE, FALSE);
        if (FAILED(hr)) return hr;
        m_factory = factory;
        m_locked = true;
        return CoRegisterClassObject(CLSID_Application, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
    }

private:
    IClassFactory* m_factory = nullptr;
    bool m_locked = false;
    DWORD m_cookie = 0;
};

std::string ProgramPath() {
    char path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

// The first other process whose image name is exactly "Velo.exe".
DWORD FindOtherVelo() {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (std::string(entry.szExeFile) == "Velo.exe" && entry.th32ProcessID != GetCurrentProcessId())
            return entry.th32ProcessID;
    }
    return 0;
}

int Signal(const VeloOptions& options) {
    DWORD pid = options.signalPid ? options.signalPid : FindOtherVelo();
    if (pid == 0) {
        std::fprintf(stderr, "Velo.exe: no running Velo.exe to signal\n");
        return 1;
    }
    const char* what = options.signal == "closing"   ? "FrameClosing"
                       : options.signal == "events"  ? "OtherEvents"
                       : options.signal == "release" ? "Release"
                                                     : "Quit";
    Handle trigger(OpenEventA(EVENT_MODIFY_STATE, FALSE, TriggerName(what, pid).c_str()));
    if (!trigger || !SetEvent(trigger.get())) {
        std::fprintf(stderr, "Velo.exe: process %lu has no trigger %s\n", static_cast<unsigned long>(pid), what);
        return 1;
    }
    return 0;
}

HANDLE g_quit = nullptr;
HANDLE g_finished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(g_quit);
    // The process ends when this handler returns: give the main thread time to fire FrameClosing.
    WaitForSingleObject(g_finished, 4000);
    return TRUE;
}

int Run(const VeloOptions& options, const std::string& commandLine) {
    ComApartment apartment;
    if (FAILED(apartment.result())) {
        std::fprintf(stderr, "Velo.exe: CoInitializeEx failed 0x%08lX\n", static_cast<unsigned long>(apartment.result()));
        return 1;
    }
    auto terminal = std::make_unique<Terminal>(options);
    std::string journalPath = options.journal;
    if (journalPath.empty()) {
        std::string program = ProgramPath();
        journalPath = program.substr(0, program.find_last_of("\\/") + 1) + "Velo.journal";
    }
    if (!terminal->journal.open(journalPath)) {
        std::fprintf(stderr, "Velo.exe: cannot open journal %s (error %lu)\n", journalPath.c_str(), GetLastError());
        return 1;
    }
    DWORD pid = GetCurrentProcessId();

    Handle closing(CreateEventA(nullptr, FALSE, FALSE, TriggerName("FrameClosing", pid).c_str()));
    Handle others(CreateEventA(nullptr, FALSE, FALSE, TriggerName("OtherEvents", pid).c_str()));
    Handle quit(CreateEventA(nullptr, FALSE, FALSE, TriggerName("Quit", pid).c_str()));
    Handle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!closing || !others || !quit || !finished) {
        std::fprintf(stderr, "Velo.exe: cannot create its trigger events (error %lu)\n", GetLastError());
        return 1;
    }
    g_quit = quit.get();
    g_finished = finished.get();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    ClassFactory factory(*terminal);
    ClassRegistration registration;
    if (!options.noCom) {
        HRESULT hr = registration.add(&factory);
        if (FAILED(hr)) {
            terminal->journal.write(JournalLine("Velo.Exit").number("pid", pid).text("reason", "register").hr(hr));
            std::fprintf(stderr, "Velo.exe: CoRegisterClassObject failed 0x%08lX\n", static_cast<unsigned long>(hr));
            return 1;
        }
    }

    // Written once clients can reach the class object: programs wait for this line.
    terminal->journal.write(JournalLine("Velo.Start")
                                .number("pid", pid)
                                .number("embedding", options.embedding ? 1 : 0)
                                .number("nocom", options.noCom ? 1 : 0)
                                .text("args", commandLine));
    terminal->markStarted();

    HANDLE waits[] = {closing.get(), others.get(), quit.get()};
    for (;;) {
        DWORD which = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            terminal->fire(Terminal::Event::Closing);
        } else if (which == WAIT_OBJECT_0 + 1) {
            for (auto event : {Terminal::Event::Activated, Terminal::Event::Deactivated, Terminal::Event::Resized,
                               Terminal::Event::Moved, Terminal::Event::GroupActivated,
                               Terminal::Event::WindowPiloted})
                terminal->fire(event);
        } else {
            break;
        }
    }
    // Quitting: no new client reaches this server, even if the rest of the way out is cut short.
    registration.revoke();
    // Calls held by --hang answer first, so that the process can end.
    terminal->releaseHangs();
    // Like the terminal's frame window: tell the listeners before going away.
    terminal->fire(Terminal::Event::Closing);
    terminal->journal.write(JournalLine("Velo.Exit").number("pid", pid).text("reason", "quit").hr(S_OK));
    terminal->dropSinks();
    SetEvent(finished.get());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    ParsedOptions parsed = ParseVeloOptions(arguments);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "Velo.exe: %s\n", parsed.error.c_str());
        return 2;
    }
    const VeloOptions& options = parsed.options;
    switch (options.command) {
    case VeloCommand::Help:
        std::fputs(VeloHelpText().c_str(), stdout);
        return 0;
    case VeloCommand::Signal:
        return Signal(options);
    case VeloCommand::RegServer: {
        HRESULT hr = RegisterServer(ProgramPath(), options.serverArguments);
        if (FAILED(hr)) std::fprintf(stderr, "Velo.exe: registration failed 0x%08lX\n", static_cast<unsigned long>(hr));
        return FAILED(hr) ? 1 : 0;
    }
    case VeloCommand::UnregServer: {
        HRESULT hr = UnregisterServer();
        if (FAILED(hr)) std::fprintf(stderr, "Velo.exe: unregistration failed 0x%08lX\n", static_cast<unsigned long>(hr));
        return FAILED(hr) ? 1 : 0;
    }
    case VeloCommand::Run: break;
    }
    std::string commandLine;
    for (const auto& argument : arguments) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += QuoteArgument(argument);
    }
    return Run(options, commandLine);
}
