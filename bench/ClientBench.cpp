// P1 and P2 against the real daemon, attached to the terminal simulator:
//   P1  a PilotQuodrix round trip through IQXPilotSt.dll, beside a bare WM_COPYDATA round trip (same record
//       size) to a window of another process that does nothing;
//   P2  from PilotQuodrix returning to the simulator journaling the pass's last Pilot call, for 1 module with
//       1 window and 4 modules with 6 windows each, beside the same pass run directly by this program
//       (the daemon's own CQXLink::Pilot in a multithreaded apartment: the same sequence of COM calls);
//   P4  P1's round trip while the terminal answers every call 200 ms late, beside P1 of the same run.
//   qxbench_client          runs both
//   qxbench_client --sink   (internal) the do-nothing window
#include "bench/BenchSupport.h"
#include "common/QXRequests.h"
#include "daemon/proxy/QXLink.h"
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/Simulator.h"
#include "tests/support/TestSupport.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace qxbench;
using namespace qxtest;

namespace {

constexpr char kSinkClass[] = "QXBenchSink";

int RunSink() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_COPYDATA) return 0;
        if (message == WM_CLOSE) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    };
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kSinkClass;
    RegisterClassExA(&windowClass);
    CreateWindowExA(0, kSinkClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}

// Counts the Pilot calls the simulator appends to its journal, reading only what is new.
class JournalTail {
public:
    explicit JournalTail(const std::string& path)
        : m_file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~JournalTail() {
        if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
    }
    JournalTail(const JournalTail&) = delete;
    JournalTail& operator=(const JournalTail&) = delete;

    std::size_t pilots() {
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(m_file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            m_partial.append(buffer, got);
            std::size_t end;
            while ((end = m_partial.find("\r\n")) != std::string::npos) {
                std::string line = m_partial.substr(0, end);
                m_partial.erase(0, end + 2);
                std::size_t tab = line.find('\t');
                std::string call = line.substr(0, tab);
                if (call.size() > 6 && call.compare(call.size() - 6, 6, ".Pilot") == 0) ++m_pilots;
            }
        }
        return m_pilots;
    }

    // Polls every millisecond until `count` Pilot calls were seen; false after `timeout` seconds.
    bool waitFor(std::size_t count, double timeout = 60) {
        double deadline = Now() + timeout;
        while (pilots() < count) {
            if (Now() > deadline) return false;
            Sleep(1);
        }
        return true;
    }

private:
    HANDLE m_file;
    std::string m_partial;
    std::size_t m_pilots = 0;
};

struct Session {
    TempDir work;
    TempDir logDir;
    std::string journal = work.file("velo.journal");
    std::string config = work.file("rules.dat");
};

bool StartDaemonAttached(Daemon& daemon, ClientDll& dll, Session& s,
                         const std::vector<std::pair<std::string, std::string>>& modules) {
    if (!daemon.startWithLog(s.logDir.path())) return false;
    std::size_t advised = JournalCalls(s.journal, "IConnectionPoint.Advise").size();
    if (dll.StartQuodrix("127.0.0.1", 7001, s.config.c_str()) != 0) return false;
    // Attached once the daemon's sink is advised on the simulator.
    if (!WaitUntil([&] { return JournalCalls(s.journal, "IConnectionPoint.Advise").size() > advised; },
                   std::chrono::seconds(30)))
        return false;
    for (const auto& [name, kind] : modules)
        if (dll.AddPilotingModule(name.c_str(), kind.c_str()) != 0) return false;
    return true;
}

int Pilot(ClientDll& dll, int n) {
    std::string symbol = "B" + std::to_string(n);
    return dll.PilotQuodrix(25, 7, 1, 0, symbol.c_str(), "", "", "", "", "", "");
}

// Idle time before each measured call, on both sides: waking a sleeping window thread costs more than
// answering one that just answered, so both are measured from the same rest.
constexpr DWORD kPaceMs = 20;

// P1: paced daemon calls (the proxy idle when each call is made) interleaved with paced bare round trips.
// Returns the median PilotQuodrix round trip.
double BenchClientCall(ClientDll& dll, JournalTail& tail, int blocks, int perBlock) {
    HWND sink = FindWindowA(kSinkClass, nullptr);
    PilotRequest record{};
    COPYDATASTRUCT copy{PILOT_REQ_PILOT, sizeof record, &record};
    std::vector<double> daemonCalls, bareCalls, findWindow, ignoredCalls, unknownCalls;
    // For the breakdown: a request code the daemon ignores, and a pilot request for a place without rules.
    HWND daemon = FindWindowA(kControlWindowClass, nullptr);
    COPYDATASTRUCT ignored{9, 0, nullptr};
    int n = 0;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < perBlock; ++i) {
            std::size_t before = tail.pilots();
            Sleep(kPaceMs);
            double t0 = Now();
            Pilot(dll, ++n);
            daemonCalls.push_back(Now() - t0);
            tail.waitFor(before + 1);
        }
        for (int i = 0; i < perBlock; ++i) {
            Sleep(kPaceMs);
            double t0 = Now();
            SendMessageA(sink, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
            bareCalls.push_back(Now() - t0);
            t0 = Now();
            FindWindowA(kControlWindowClass, nullptr);
            findWindow.push_back(Now() - t0);
        }
        for (int i = 0; i < perBlock / 5; ++i) {
            Sleep(kPaceMs);
            double t0 = Now();
            SendMessageA(daemon, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&ignored));
            ignoredCalls.push_back(Now() - t0);
            Sleep(kPaceMs);
            t0 = Now();
            dll.PilotQuodrix(99, 7, 1, 0, "U", "", "", "", "", "", "");
            unknownCalls.push_back(Now() - t0);
        }
    }
    PrintRow("P1", "PilotQuodrix round trip, median (" + std::to_string(daemonCalls.size()) + " calls)",
             Ms(Median(daemonCalls)), "bare WM_COPYDATA " + Ms(Median(bareCalls)),
             Median(daemonCalls) / Median(bareCalls), 1.3);
    PrintRow("P1", "PilotQuodrix round trip, 99th percentile", Ms(Quantile(daemonCalls, 0.99)),
             "bare WM_COPYDATA " + Ms(Quantile(bareCalls, 0.99)),
             Quantile(daemonCalls, 0.99) / Quantile(bareCalls, 0.99), 1.3);
    PrintNote("P1: each call, on both sides, follows " + std::to_string(kPaceMs) + " ms of rest, and each "
              "PilotQuodrix follows the end of the previous pass (the proxy idle, as when a user picks "
              "instruments); PilotQuodrix is FindWindowA + SendMessageA, FindWindowA alone takes " +
              Ms(Median(findWindow)) + " (median). Breakdown (medians): a request code the daemon ignores, "
              "sent straight to its window, " + Ms(Median(ignoredCalls)) + "; PilotQuodrix for a place without "
              "rules (lookup and one log line, no hand-off) " + Ms(Median(unknownCalls)) + ".");
    return Median(daemonCalls);
}

// P4: the same paced PilotQuodrix round trips while the terminal answers every call 200 ms late, so that the
// proxy thread is always in the middle of a slow pass; beside P1's median of the same run.
void BenchSlowTerminal(ClientDll& dll, Session& s, double healthyMedian, int calls) {
    Simulator slow;
    if (!slow.start(s.journal, {"--group", "Bench1=Vista", "--delay", "*=200"})) {
        std::fprintf(stderr, "P4: the slow Velo.exe did not start\n");
        return;
    }
    Daemon daemon;
    if (!StartDaemonAttached(daemon, dll, s, {{"Bench1", "Vista"}})) {
        std::fprintf(stderr, "P4: the daemon did not start and attach\n");
        return;
    }
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
        Sleep(kPaceMs);
        double t0 = Now();
        Pilot(dll, 2000000 + i);
        times.push_back(Now() - t0);
    }
    PrintRow("P4", "PilotQuodrix round trip, terminal 200 ms a call, median (" + std::to_string(times.size()) +
             " calls)", Ms(Median(times)), "P1 " + Ms(healthyMedian), Median(times) / healthyMedian, 1.2);
    PrintRow("P4", "same, 99th percentile", Ms(Quantile(times, 0.99)), "P1 median " + Ms(healthyMedian),
             Quantile(times, 0.99) / healthyMedian, 0);
    PrintNote("P4: the simulator answers each of its calls 200 ms late (--delay *=200), so each pass takes "
              "seconds and every PilotQuodrix lands while the proxy thread is inside one; the requests queue " +
              std::to_string(calls) + " passes, which would take many minutes to run: the daemon is ended by "
              "its id afterwards instead of stopped.");
    daemon.process().kill();
    slow.quit();
}

// P2, daemon side: PilotQuodrix, then the time until the simulator journaled `windows` more Pilot calls.
std::vector<double> DaemonPasses(ClientDll& dll, JournalTail& tail, int count, std::size_t windows, int& n) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        std::size_t before = tail.pilots();
        Pilot(dll, ++n);
        double t0 = Now();
        if (!tail.waitFor(before + windows)) {
            std::fprintf(stderr, "P2: the daemon's pass did not reach %zu windows\n", windows);
            break;
        }
        times.push_back(Now() - t0);
    }
    return times;
}

// P2, direct side: the same pass through the daemon's link, run here.
std::vector<double> DirectPasses(CQXLink& link, const ModuleRegistry& modules, JournalTail& tail, int count,
                                 std::size_t windows, int& n) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        std::size_t before = tail.pilots();
        std::string value = "D" + std::to_string(++n) + ".B";
        double t0 = Now();
        link.Pilot(value, modules);
        if (!tail.waitFor(before + windows)) {
            std::fprintf(stderr, "P2: the direct pass did not reach %zu windows\n", windows);
            break;
        }
        times.push_back(Now() - t0);
    }
    return times;
}

void BenchEndToEnd(const char* what, ClientDll& dll, CQXLink& link, const ModuleRegistry& modules,
                   JournalTail& tail, std::size_t windows, int blocks, int perBlock) {
    std::vector<double> daemonTimes, directTimes;
    int n = 1000000;
    // A pass of each kind first: the first call on each interface proxy costs more.
    DaemonPasses(dll, tail, 1, windows, n);
    DirectPasses(link, modules, tail, 1, windows, n);
    for (int b = 0; b < blocks; ++b) {
        auto d = DaemonPasses(dll, tail, perBlock, windows, n);
        daemonTimes.insert(daemonTimes.end(), d.begin(), d.end());
        auto r = DirectPasses(link, modules, tail, perBlock, windows, n);
        directTimes.insert(directTimes.end(), r.begin(), r.end());
    }
    PrintRow("P2", std::string(what) + ", median of " + std::to_string(daemonTimes.size()),
             "daemon " + Ms(Median(daemonTimes), 1), "direct COM " + Ms(Median(directTimes), 1),
             Median(daemonTimes) / Median(directTimes), 1.5);
}

bool MtaConnect(CQXLink& link) { return link.Connect("127.0.0.1", 7001, true); }

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--sink") == 0) return RunSink();

    KillStrayDaemon();
    StopTerminals();
    Session s;
    WriteFileText(s.config, "[Extension_Bench]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.B\r\n");
    SimulatorRegistration registration({"--journal", s.journal});
    if (!registration.ok()) {
        std::fprintf(stderr, "cannot register Velo.exe: %s\n", registration.output().c_str());
        return 1;
    }
    const std::string six = "Vista,FullQuote,OrderBook,TimeSales,News,Chart";
    Simulator simulator;
    if (!simulator.start(s.journal, {"--group", "Bench1=Vista", "--group", "M1=" + six, "--group", "M2=" + six,
                                     "--group", "M3=" + six, "--group", "M4=" + six})) {
        std::fprintf(stderr, "Velo.exe did not start\n");
        return 1;
    }
    ChildProcess sink;
    if (!sink.start(Quoted(BinPath("qxbench_client.exe")) + " --sink") ||
        !WaitUntil([] { return FindWindowA(kSinkClass, nullptr) != nullptr; })) {
        std::fprintf(stderr, "the sink window did not come up\n");
        return 1;
    }
    ClientDll dll;
    if (!dll.loaded()) {
        std::fprintf(stderr, "IQXPilotSt.dll not loaded\n");
        return 1;
    }
    JournalTail tail(s.journal);

    // This program's own link, for the direct passes; theLogger stays closed here, so it writes nothing.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int status = 0;
    double healthyMedian = 0;
    {
        CQXLink link;
        if (!MtaConnect(link)) {
            std::fprintf(stderr, "the bench's own link did not connect\n");
            status = 1;
        } else {
            {
                Daemon daemon;
                if (!StartDaemonAttached(daemon, dll, s, {{"Bench1", "Vista"}})) {
                    std::fprintf(stderr, "the daemon did not start and attach\n");
                    status = 1;
                } else {
                    for (int i = 0; i < 20; ++i) Pilot(dll, -i);  // warm-up
                    tail.waitFor(20);
                    healthyMedian = BenchClientCall(dll, tail, 10, 50);
                    BenchEndToEnd("end to end, 1 module x 1 window", dll, link, ModuleRegistry{{"Bench1", {1}}},
                                  tail, 1, 6, 10);
                    daemon.stop();
                }
            }
            {
                Daemon daemon;
                std::vector<std::pair<std::string, std::string>> modules;
                ModuleRegistry registry;
                for (const char* module : {"M1", "M2", "M3", "M4"}) {
                    for (const char* kind : {"Vista", "FullQuote", "OrderBook", "TimeSales", "News", "Chart"})
                        modules.emplace_back(module, kind);
                    registry[module] = {1, 2, 3, 4, 5, 6};
                }
                if (!StartDaemonAttached(daemon, dll, s, modules)) {
                    std::fprintf(stderr, "the daemon did not start and attach\n");
                    status = 1;
                } else {
                    BenchEndToEnd("end to end, 4 modules x 6 windows", dll, link, registry, tail, 24, 4, 5);
                    daemon.stop();
                }
            }
            PrintNote("P2: the time from PilotQuodrix returning (daemon) or from the call (direct) until the "
                      "simulator's journal holds the pass's last Pilot call, polled every millisecond; direct = "
                      "the daemon's own CQXLink::Pilot run in this program's multithreaded apartment.");
        }
        link.Dispose();
    }
    CoUninitialize();
    if (healthyMedian > 0) {
        simulator.quit();
        BenchSlowTerminal(dll, s, healthyMedian, 200);
    }
    SendMessageA(FindWindowA(kSinkClass, nullptr), WM_CLOSE, 0, 0);
    sink.wait(std::chrono::seconds(5));
    return status;
}
