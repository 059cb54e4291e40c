// P3: the configuration loader's whole time (reading, model, checks, dump to a real log file) beside the bare
// profile-reader calls on the same file, for generated files of 100, 1,000 and 10,000 rule sections.
#include "bench/BenchSupport.h"
#include "daemon/config/ConfigChecks.h"
#include "daemon/config/ConfigLoader.h"
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace qxbench;

namespace {

constexpr int kLinesPerSection = 18;  // the dump of one generated section

// Each section: its own place, 2 markets x 2 groups, a default group so that the dump warns about nothing.
std::string GenerateConfiguration(int sections) {
    static const char* const kKeyTypes[] = {"ISIN", "ISIN_CURRENCY", "KTVID", "SYMBOL"};
    std::string text;
    text.reserve(static_cast<std::size_t>(sections) * 110);
    char section[256];
    for (int i = 0; i < sections; ++i) {
        std::snprintf(section, sizeof section,
                      "[Extension_%05d]\r\nPlace=%d\r\nMarket=1,2\r\nQXExtension=.X%d\r\nQXSymbol=%s\r\n"
                      "Group=DEFAULT,G%d\r\n\r\n",
                      i, i + 1, i % 7, kKeyTypes[i % 4], i % 10);
        text += section;
    }
    return text;
}

// Wine's profile reader parses a file again on every call while its last write is under about two seconds
// old; a configuration is normally written long before the daemon starts, so the file is dated back.
void DateBack(const std::string& file) {
    HANDLE handle = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 3600ULL * 10000000ULL;
    FILETIME past{t.LowPart, t.HighPart};
    SetFileTime(handle, nullptr, nullptr, &past);
    CloseHandle(handle);
}

// The profile reader alone: every section name, then one section read per name.
std::size_t BareReads(const char* file) {
    std::vector<char> names(1 << 16);
    for (;;) {
        DWORD got = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), file);
        if (got != names.size() - 2) break;
        names.assign(names.size() * 2, '\0');
    }
    std::size_t count = 0;
    char lines[260];
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        GetPrivateProfileSectionA(name, lines, sizeof lines, file);
        ++count;
    }
    return count;
}

// One load as the daemon does it, into a fresh log file; its time.
double TimedLoad(const std::string& file, int sections) {
    qxtest::TempDir runLog;
    theLogger.open(runLog.path().c_str());
    PilotingConfiguration config;
    double start = Now();
    LoadConfiguration(config, file.c_str());
    double elapsed = Now() - start;
    theLogger.close();
    if (config.placeMarkets.size() != static_cast<std::size_t>(sections) * 2)
        std::fprintf(stderr, "P3: the loader kept %zu (place, market) entries, expected %d\n",
                     config.placeMarkets.size(), sections * 2);
    return elapsed;
}

double TimedBareReads(const std::string& file, int sections) {
    double start = Now();
    std::size_t seen = BareReads(file.c_str());
    double elapsed = Now() - start;
    if (seen != static_cast<std::size_t>(sections))
        std::fprintf(stderr, "P3: the reader saw %zu sections of %d\n", seen, sections);
    return elapsed;
}

struct Figures {
    double loader = 0;
    double bare = 0;
};

// Medians of interleaved runs, after one warm-up of each (the reader's first call parses the file).
Figures Measure(const std::string& file, int sections, int repetitions) {
    TimedBareReads(file, sections);
    TimedLoad(file, sections);
    std::vector<double> loaderTimes, bareTimes;
    for (int r = 0; r < repetitions; ++r) {
        bareTimes.push_back(TimedBareReads(file, sections));
        loaderTimes.push_back(TimedLoad(file, sections));
    }
    return {Median(loaderTimes), Median(bareTimes)};
}

// The loader's own work in one load (names, model and checks, dump), apart from the section reads.
double OwnWork(const std::string& file, int sections, bool print) {
    qxtest::TempDir runLog;
    theLogger.open(runLog.path().c_str());
    PilotingConfiguration config;
    double t0 = Now();
    std::vector<std::string> names = ReadSectionNames(file.c_str());
    double t1 = Now();
    std::vector<SectionValues> sectionValues(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) ReadSection(sectionValues[i], file.c_str(), names[i].c_str());
    double t2 = Now();
    for (std::size_t i = 0; i < names.size(); ++i) ApplyRuleSection(config, names[i], sectionValues[i]);
    double t3 = Now();
    {
        LogBatch batch(theLogger);
        DumpConfiguration(config);
    }
    double t4 = Now();
    theLogger.close();
    if (print)
        std::printf("INFO\tP3 %d sections, one load: names %s, section reads %s, model and checks %s, dump %s "
                    "(%.2f us a log line)\n",
                    sections, Ms(t1 - t0).c_str(), Ms(t2 - t1).c_str(), Ms(t3 - t2).c_str(), Ms(t4 - t3).c_str(),
                    (t4 - t3) * 1e6 / (static_cast<double>(sections) * kLinesPerSection + 2));
    return (t1 - t0) + (t3 - t2) + (t4 - t3);
}

}  // namespace

int main() {
    qxtest::TempDir work;
    struct Size {
        int sections;
        int repetitions;
    };
    const Size sizes[] = {{100, 15}, {1000, 7}, {10000, 5}};
    Figures at1000;
    double own1000 = 0;
    for (const Size& size : sizes) {
        std::string file = work.file("rules_" + std::to_string(size.sections) + ".dat");
        qxtest::WriteFileText(file, GenerateConfiguration(size.sections));
        DateBack(file);
        Figures f = Measure(file, size.sections, size.repetitions);
        std::vector<double> own;
        for (int r = 0; r < size.repetitions; ++r) own.push_back(OwnWork(file, size.sections, r == 0));
        char what[64];
        std::snprintf(what, sizeof what, "load, %d sections", size.sections);
        PrintRow("P3", what, "loader " + Ms(f.loader, 1), "bare reads " + Ms(f.bare, 1), f.loader / f.bare, 1.5);
        if (size.sections == 1000) {
            at1000 = f;
            own1000 = Median(own) / 1000;
        }
        if (size.sections == 10000 && at1000.loader > 0) {
            double loader10k = f.loader / 10000, loader1k = at1000.loader / 1000;
            double bare10k = f.bare / 10000, bare1k = at1000.bare / 1000;
            double own10k = Median(own) / 10000;
            PrintRow("P3", "loader per section, 10,000 vs 1,000", Format("%.1f us", loader10k * 1e6),
                     Format("%.1f us", loader1k * 1e6), loader10k / loader1k, 1.2);
            PrintRow("P3", "  bare reads per section, 10,000 vs 1,000", Format("%.1f us", bare10k * 1e6),
                     Format("%.1f us", bare1k * 1e6), bare10k / bare1k, 0);
            PrintRow("P3", "  loader without the reads (names, model, dump) per section", Format("%.1f us", own10k * 1e6),
                     Format("%.1f us", own1000 * 1e6), own10k / own1000, 1.2);
        }
    }
    PrintNote("P3 files: each section its own place, Market=1,2, Group=DEFAULT,G<n> (18 dump lines a section, "
              "to a real log file), dated back an hour: Wine re-parses a profile file on every call while it is "
              "under ~2 s old. Medians of interleaved runs.");
    return 0;
}
