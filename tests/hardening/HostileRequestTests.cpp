// R1: random WM_COPYDATA messages (codes 0-10 but the stop code, cbData 0-1,024, random bytes, unterminated
// fields, texts with line breaks and printf directives, null lpData) sent to a running daemon. Afterwards
// the daemon is the same process, still serves valid requests end to end, stops with exit code 0, and its
// log holds only whole lines: every line, wherever a CR or LF breaks the file, has the logger's layout.
// Counts: QX_HARDENING_FULL=1 sends 100,000 messages to a started daemon (20,000 to a fresh one).
#include "common/QXRequests.h"
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/Simulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

using namespace qxtest;

namespace {

constexpr DWORD kMaxRecord = 1024;

struct HostileMessage {
    ULONG_PTR code = 0;
    DWORD cbData = 0;
    bool nullData = false;
    unsigned char bytes[kMaxRecord] = {};
};

// What the generator may aim at, besides pure noise.
struct Target {
    std::vector<std::int32_t> places;          // configured places, so that some lookups succeed
    std::vector<std::string> moduleNames;      // a few names, so that the registry stays small
    std::vector<std::string> configFiles;      // candidate configuration files for start requests
};

class Generator {
public:
    Generator(std::uint32_t seed, Target target) : m_rng(seed), m_target(std::move(target)) {}

    void next(HostileMessage& m) {
        do {
            m.code = pick(0, 10);
        } while (m.code == PILOT_REQ_STOP);  // a stop is obeyed by design, whoever sends it
        m.nullData = pick(0, 19) == 0;
        m.cbData = size(m.code);
        noise(m.bytes, kMaxRecord);
        if (pick(0, 2) == 0) plausible(m);
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_rng); }

    // Never more than the buffer holds: the platform copies cbData bytes from it.
    DWORD size(ULONG_PTR code) {
        int expected = code == 1 ? 324 : code == 2 ? 64 : code == 3 ? 124 : 0;
        int size = 0;
        switch (pick(0, 9)) {
        case 0: size = 0; break;
        case 1: case 2: size = pick(1, 16); break;
        case 3: case 4: case 5: size = expected + (pick(0, 3) == 0 ? 0 : pick(-3, 3)); break;
        default: size = pick(0, kMaxRecord); break;
        }
        return static_cast<DWORD>(std::clamp(size, 0, static_cast<int>(kMaxRecord)));
    }

    void noise(unsigned char* bytes, std::size_t count) {
        switch (pick(0, 2)) {
        case 0:  // any byte, NUL included
            for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(pick(0, 255));
            break;
        case 1:  // no NUL at all: every field unterminated
            for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(pick(1, 255));
            break;
        default:  // printable, with the odd line break
            for (std::size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<unsigned char>(pick(0, 40) == 0 ? "\r\n\t"[pick(0, 2)] : pick(32, 126));
            break;
        }
    }

    // A text for a field of `width` bytes: short, exact, overlong (unterminated) or nasty.
    void text(char* field, std::size_t width) {
        static const char* const kNasty[] = {"%s%s%s%n%n", "%x%x%x%x%p", "line\r\nEE 00:00:00:000   forged",
                                             "\r\n", "DEFAULT", "default", "", "All", "\xff\xfe\x80\x81"};
        std::string t;
        switch (pick(0, 4)) {
        case 0: t = kNasty[pick(0, 8)]; break;
        case 1: t.assign(width, static_cast<char>(pick(33, 126))); break;  // fills the field: no terminator
        default:
            for (int i = pick(0, static_cast<int>(width)); i > 0; --i) t += static_cast<char>(pick(32, 126));
            break;
        }
        std::memset(field, 0, width);
        std::memcpy(field, t.data(), std::min(t.size(), width));
    }

    void plausible(HostileMessage& m) {
        switch (m.code) {
        case PILOT_REQ_START_TERMINAL: {
            auto* r = reinterpret_cast<StartRequest*>(m.bytes);
            text(r->address, sizeof r->address);
            r->port = pick(-1, 70000);
            if (!m_target.configFiles.empty() && pick(0, 1) == 0) {
                std::memset(r->configFile, 0, sizeof r->configFile);
                CopyField(r->configFile, m_target.configFiles[pick(0, static_cast<int>(m_target.configFiles.size()) - 1)].c_str());
            } else {
                text(r->configFile, sizeof r->configFile);
            }
            break;
        }
        case PILOT_REQ_ADD_MODULE: {
            static const char* const kKinds[] = {"Vista", "fullquote", "ORDERBOOK", "TimeSales", "News", "Chart",
                                                 "All", "News ", "Hologram"};
            auto* r = reinterpret_cast<ModuleRequest*>(m.bytes);
            if (!m_target.moduleNames.empty()) {
                std::memset(r->moduleName, 0, sizeof r->moduleName);
                const std::string& name = m_target.moduleNames[pick(0, static_cast<int>(m_target.moduleNames.size()) - 1)];
                std::memcpy(r->moduleName, name.data(), std::min(name.size(), sizeof r->moduleName));
            } else {
                text(r->moduleName, sizeof r->moduleName);
            }
            if (pick(0, 1) == 0) {
                std::memset(r->windowKind, 0, sizeof r->windowKind);
                CopyField(r->windowKind, kKinds[pick(0, 8)]);
            } else {
                text(r->windowKind, sizeof r->windowKind);
            }
            break;
        }
        case PILOT_REQ_PILOT: {
            auto* r = reinterpret_cast<PilotRequest*>(m.bytes);
            r->place = !m_target.places.empty() && pick(0, 1) == 0
                           ? m_target.places[pick(0, static_cast<int>(m_target.places.size()) - 1)]
                           : pick(-100000, 100000);
            r->market = pick(0, 3) == 0 ? pick(-2000000000, 2000000000) : pick(-1, 3);
            r->codeMiddle = pick(0, 3) == 0 ? pick(-2000000000, 2000000000) : pick(0, 999);
            text(r->symbol, sizeof r->symbol);
            text(r->group, sizeof r->group);
            text(r->isin, sizeof r->isin);
            text(r->currency, sizeof r->currency);
            text(r->creditClass, sizeof r->creditClass);
            text(r->underlying, sizeof r->underlying);
            break;
        }
        default:
            break;
        }
    }

    std::mt19937 m_rng;
    Target m_target;
};

struct FuzzFigures {
    int sent = 0;
    double seconds = 0;
};

// Sends `count` generated messages to the daemon's window; stops early if the window goes away.
FuzzFigures Fuzz(Generator& generator, int count) {
    FuzzFigures figures;
    HWND window = FindWindowA(kControlWindowClass, nullptr);
    if (window == nullptr) return figures;
    auto start = std::chrono::steady_clock::now();
    HostileMessage m;
    for (int i = 0; i < count; ++i) {
        generator.next(m);
        COPYDATASTRUCT copy{};
        copy.dwData = m.code;
        copy.cbData = m.cbData;
        copy.lpData = m.nullData ? nullptr : m.bytes;
        DWORD_PTR result = 0;
        // A daemon that stopped answering shows up as a time-out rather than a hung test.
        if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 60000,
                                 &result))
            break;
        ++figures.sent;
    }
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return figures;
}

const char* const kRules =
    "[Extension_Fuzz]\r\nPlace=25\r\nMarket=1,2\r\nQXSymbol=SYMBOL\r\nQXExtension=.FZ\r\n"
    "[Extension_FuzzKtv]\r\nPlace=30\r\nQXSymbol=KTVID\r\n"
    "[Extension_FuzzIsin]\r\nPlace=35\r\nQXSymbol=isin_currency\r\nGroup=DEFAULT,G1\r\n";

class HostileRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndStrayProcesses();
        configFile = work.file("rules.dat");
        WriteFileText(configFile, kRules);
        journal = work.file("velo.journal");
    }

    void TearDown() override {
        if (HasFailure()) {
            std::string log = ReadFileText(FindLogFile(logDir.path()));
            if (log.size() > 6000) log = "..." + log.substr(log.size() - 6000);
            std::printf("---- end of log\n%s\n----\n", log.c_str());
        }
        EndSessionProcesses(daemon, simulator, std::chrono::seconds(600));
    }

    // The daemon logs a refused window kind: proof that it still serves, and a marker in the log.
    void ExpectServing(const std::string& marker) {
        ASSERT_EQ(DaemonWindowPid(), daemon.pid()) << "the daemon's window changed hands or went away";
        ASSERT_TRUE(SendLogMarker(logDir.path(), marker)) << marker;
    }

    // Texts ending in a line break (or holding one) in every field that reaches a log line: the window kind,
    // the module name, and the pilot request's fields that the lookup and the value show.
    void SendLineBreaks() {
        for (const auto& row : kLineBreakKinds) {
            ModuleRequest module{};
            CopyField(module.moduleName, "Desk\n");
            CopyField(module.windowKind, row.sent);
            ASSERT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, &module, sizeof module));
        }
        for (const char* text : {"\n", "\r\n", "X\r\nEE 00:00:00:000   forged\r\n"}) {
            for (std::int32_t place : {25, 30, 35, 999999}) {
                PilotRequest pilot{};
                pilot.place = place;
                pilot.market = 1;
                pilot.codeMiddle = 7;
                const std::string field = std::string("LB") + text;
                CopyField(pilot.symbol, field.c_str());
                CopyField(pilot.group, field.c_str());
                CopyField(pilot.isin, field.c_str());
                CopyField(pilot.currency, field.c_str());
                CopyField(pilot.creditClass, field.c_str());
                CopyField(pilot.underlying, field.c_str());
                ASSERT_TRUE(SendRequest(PILOT_REQ_PILOT, &pilot, sizeof pilot));
            }
        }
    }

    void ExpectLineBreaksBlanked() {
        auto texts = LogTexts(logDir.path());
        for (const auto& row : kLineBreakKinds) {
            EXPECT_THAT(texts, ::testing::Contains(std::string(row.logged)));
        }
        // That every line of the file keeps the logger's layout is checked once the daemon has stopped.
    }

    struct LineBreakKind {
        const char* sent;
        const char* logged;
    };
    static constexpr LineBreakKind kLineBreakKinds[] = {
        {"Vista\n", "Invalid Piloting Module: Vista "},
        {"Vista\r\n", "Invalid Piloting Module: Vista  "},
        {"\n", "Invalid Piloting Module:  "},
        {"\r", "Invalid Piloting Module:  "},
        {"News\n\n", "Invalid Piloting Module: News  "},
        {"Chart\r\nEE 00:00:00:000 x\n", "Invalid Piloting Module: Chart  EE 00:00:00:000 x "},
    };

    void ExpectWholeLog() {
        LogWholeness whole = CheckLogWholeness(ReadFileText(FindLogFile(logDir.path())));
        EXPECT_TRUE(whole.endsWithLineEnd);
        EXPECT_EQ(whole.tornCount, 0u) << "first lines that are not whole:\n"
                                        << (whole.torn.empty() ? "" : whole.torn[0]) << "\n"
                                        << (whole.torn.size() > 1 ? whole.torn[1] : "");
        logLines = whole.lines;
    }

    TempDir work;
    TempDir logDir;
    std::string configFile;
    std::string journal;
    Daemon daemon;
    Simulator simulator;
    std::size_t logLines = 0;
};

// Before any start: random start requests (one of them carried out, with whatever file it names), random
// modules and pilots, with no terminal anywhere.
TEST_F(HostileRequestTest, FreshDaemonSurvivesRandomRequests) {
    // No terminal can be launched: every connection attempt fails fast.
    UnregisterSimulator();
    ASSERT_TRUE(daemon.startWithLog(logDir.path()));
    const int count = RunCount(2000, 20000);
    Generator generator(HardeningSeed("R1 fresh"), Target{{25, 30, 35}, {}, {configFile, "qxpilot.dat"}});
    FuzzFigures f = Fuzz(generator, count);
    ASSERT_EQ(f.sent, count) << "the daemon stopped answering";

    ExpectServing("AfterTheStorm");
    // A text with a line break cannot pass for a line of its own.
    ModuleRequest forged{};
    CopyField(forged.moduleName, "probe");
    CopyField(forged.windowKind, "x\r\nEE 00:00:00:000   forged");
    ASSERT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, &forged, sizeof forged));
    PilotRequest pilot{};
    pilot.place = 999999;
    CopyField(pilot.symbol, "NOWHERE");
    ASSERT_TRUE(SendRequest(PILOT_REQ_PILOT, &pilot, sizeof pilot));
    ExpectServing("AfterThePilot");
    auto texts = LogTexts(logDir.path());
    auto marker = std::find(texts.begin(), texts.end(), "Invalid Piloting Module: AfterTheStorm");
    ASSERT_NE(marker, texts.end());
    EXPECT_NE(std::find(marker, texts.end(), "The Verid was not found"), texts.end());
    EXPECT_NE(std::find(marker, texts.end(), "Invalid Piloting Module: x  EE 00:00:00:000   forged"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "forged"), texts.end());
    SendLineBreaks();
    ExpectServing("AfterTheLineBreaks");
    ExpectLineBreaksBlanked();

    EXPECT_EQ(daemon.stop(std::chrono::seconds(120)), 0u);
    ExpectWholeLog();
    const bool started = std::find(texts.begin(), texts.end(), " Quodrix started on demand") != texts.end();
    Figure("R1 fresh daemon: %d random messages in %.1f s (%.0f a second), %zu log lines, all whole; %s; daemon "
           "served and stopped with 0",
           f.sent, f.seconds, f.sent / f.seconds, logLines,
           started ? "a random start request was carried out" : "no random start request was complete");
}

// Started with rules and a terminal: random requests in between, then a valid module and pilot request
// reach the terminal's window.
TEST_F(HostileRequestTest, StartedDaemonSurvivesRandomRequestsAndStillPilots) {
    SimulatorRegistration registration({"--journal", journal});
    ASSERT_TRUE(registration.ok()) << registration.output();
    ASSERT_TRUE(simulator.start(journal));
    ASSERT_TRUE(daemon.startWithLog(logDir.path()));
    StartRequest start{};
    CopyField(start.address, "127.0.0.1");
    start.port = 7001;
    CopyField(start.configFile, configFile.c_str());
    ASSERT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, &start, sizeof start));
    ASSERT_TRUE(WaitForLogText(logDir.path(), " Quodrix started on demand"));

    const int count = RunCount(4000, 100000);
    // Module names: a plain one, one filling its field, one with line breaks and one with high bytes.
    Target target{{25, 30, 35},
                  {"FuzzDesk", std::string(32, 'M'), "Fuzz\r\nDesk", "Fuzz\xe9\xff"},
                  {configFile}};
    Generator generator(HardeningSeed("R1 started"), target);
    FuzzFigures f = Fuzz(generator, count);
    ASSERT_EQ(f.sent, count) << "the daemon stopped answering";

    ExpectServing("AfterTheStorm");
    SendLineBreaks();
    ExpectServing("AfterTheLineBreaks");
    ExpectLineBreaksBlanked();
    ModuleRequest module{};
    CopyField(module.moduleName, "R1Desk");
    CopyField(module.windowKind, "Vista");
    ASSERT_TRUE(SendRequest(PILOT_REQ_ADD_MODULE, &module, sizeof module));
    PilotRequest pilot{};
    pilot.place = 25;
    pilot.market = 1;
    CopyField(pilot.symbol, "R1END");
    ASSERT_TRUE(SendRequest(PILOT_REQ_PILOT, &pilot, sizeof pilot));
    ASSERT_TRUE(WaitForLogText(logDir.path(), "Value that had been sent to Quodrix : [R1END.FZ]"));
    // Passes queued by the storm run first; the last one carries the final value to the new module's window.
    bool delivered = WaitUntil(
        [&] {
            for (const auto& entry : JournalCalls(journal, "IVistaWindow.Pilot"))
                if (entry.get("value") == "R1END.FZ") return true;
            return false;
        },
        std::chrono::seconds(FullRun() ? 900 : 240), std::chrono::milliseconds(250));
    EXPECT_TRUE(delivered) << "R1END.FZ never reached a Vista window";

    auto stopped = daemon.stop(std::chrono::seconds(600));
    EXPECT_EQ(stopped, 0u);
    ExpectWholeLog();
    std::size_t pilots = 0;
    for (const auto& entry : ReadJournal(journal))
        if (entry.call.size() > 6 && entry.call.compare(entry.call.size() - 6, 6, ".Pilot") == 0) ++pilots;
    Figure("R1 started daemon: %d random messages in %.1f s (%.0f a second), %zu log lines, all whole; %zu Pilot "
           "calls reached the simulator; final value delivered; daemon stopped with 0",
           f.sent, f.seconds, f.sent / f.seconds, logLines, pilots);
}

}  // namespace
