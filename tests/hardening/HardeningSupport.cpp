#include "tests/hardening/HardeningSupport.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace qxtest {

bool FullRun() {
    const char* full = std::getenv("QX_HARDENING_FULL");
    return full != nullptr && full[0] != '\0' && std::string(full) != "0";
}

int RunCount(int regular, int full) { return FullRun() ? full : regular; }

std::uint32_t HardeningSeed(const char* test) {
    std::uint32_t seed = 0;
    if (const char* given = std::getenv("QX_HARDENING_SEED"); given != nullptr && given[0] != '\0') {
        seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 0));
    } else {
        seed = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               GetCurrentProcessId();
    }
    std::printf("%s: seed %lu (QX_HARDENING_SEED=%lu replays it)\n", test, static_cast<unsigned long>(seed),
                static_cast<unsigned long>(seed));
    std::fflush(stdout);
    return seed;
}

void Figure(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::printf("FIGURE\t%s\n", text);
    std::fflush(stdout);
}

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsWholeLogLine(const std::string& line) {
    if (line.size() < 18) return false;
    if (line.compare(0, 18, std::string(18, ' ')) == 0) return true;
    const std::string head = line.substr(0, 2);
    bool tag = head == "  " || head == "WW" || head == "EE" || head == "FF" || head == "--";
    bool level = (head[0] == ' ' || Digit(head[0])) && Digit(head[1]);
    if (!(tag || level) || line[2] != ' ') return false;
    // "hh:mm:ss:mmm   "
    static const char kTime[] = "dd:dd:dd:ddd   ";
    for (std::size_t i = 0; i < 15; ++i) {
        char c = line[3 + i];
        if (kTime[i] == 'd' ? !Digit(c) : c != kTime[i]) return false;
    }
    return true;
}

namespace {

// Lines of a log text split at every line break a reader would see (CR LF, a bare LF, a bare CR), so that a
// break smuggled in by a request shows up as a line without the logger's layout.
std::vector<std::string> SplitAtEveryBreak(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(begin, i - begin));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    if (begin < text.size()) lines.push_back(text.substr(begin));
    return lines;
}

// The configuration dump's two texts end with a line feed of their own, which leaves an empty line behind them.
bool EndsWithOwnLineFeed(const std::string& line) {
    if (line.size() < 18) return false;
    const std::string text = line.substr(18);
    return text == "Dumping the extension read from qxpilot.dat file" || text == "End Dumping";
}

}  // namespace

LogWholeness CheckLogWholeness(const std::string& text) {
    LogWholeness result;
    result.endsWithLineEnd = text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    std::string previous;
    for (const std::string& line : SplitAtEveryBreak(text)) {
        ++result.lines;
        const bool whole = IsWholeLogLine(line) || (line.empty() && EndsWithOwnLineFeed(previous));
        previous = line;
        if (whole) continue;
        ++result.tornCount;
        if (result.torn.size() < 5) result.torn.push_back(line.substr(0, 120));
    }
    return result;
}

ClientDll::ClientDll() {
    m_module = LoadLibraryA(BinPath("IQXPilotSt.dll").c_str());
    if (m_module == nullptr) return;
    auto get = [&](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    };
    get(StartDaemon, "StartDaemon");
    get(StopDaemon, "StopDaemon");
    get(StartQuodrix, "StartQuodrix");
    get(AddPilotingModule, "AddPilotingModule");
    get(PilotQuodrix, "PilotQuodrix");
    get(GetSystemLastError, "GetSystemLastError");
}

ClientDll::~ClientDll() {
    if (m_module != nullptr) FreeLibrary(m_module);
}

}  // namespace qxtest
