// Helpers shared by the benchmark programs: a high-resolution clock, order statistics, the result rows.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qxbench {

// Seconds since an arbitrary origin, from the performance counter.
inline double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

// The q-quantile (0..1) by the nearest-rank rule; 0 for no samples.
inline double Quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(samples.size()) + 0.999999);
    if (rank == 0) rank = 1;
    if (rank > samples.size()) rank = samples.size();
    return samples[rank - 1];
}
inline double Median(const std::vector<double>& samples) { return Quantile(samples, 0.5); }

// One line of the results table, read by scripts/bench.sh: tab-separated
//   ROW  id  case  measured  baseline  ratio  target  verdict
// A target of 0 marks a context row (no target).
inline void PrintRow(const std::string& id, const std::string& what, const std::string& measured,
                     const std::string& baseline, double ratio, double target) {
    char targetText[32] = "-";
    if (target > 0) std::snprintf(targetText, sizeof targetText, "<= %.2f", target);
    const char* verdict = target <= 0 ? "-" : ratio <= target ? "met" : "NOT met";
    std::printf("ROW\t%s\t%s\t%s\t%s\t%.2f\t%s\t%s\n", id.c_str(), what.c_str(), measured.c_str(),
                baseline.c_str(), ratio, targetText, verdict);
    std::fflush(stdout);
}

// Free text for the record, printed by scripts/bench.sh under the table.
inline void PrintNote(const std::string& text) {
    std::printf("NOTE\t%s\n", text.c_str());
    std::fflush(stdout);
}

// "12.34 ms" style figures.
inline std::string Ms(double seconds, int decimals = 3) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f ms", decimals, seconds * 1000.0);
    return text;
}

inline std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace qxbench
