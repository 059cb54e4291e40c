// check-config FILE: loads a configuration with the daemon's own loader and prints, on standard output,
// the lines the daemon would log for it. Exit status 0 when nothing was warned about, 1 otherwise.
#include "tools/qxpilot/Commands.h"

#include "daemon/config/ConfigLoader.h"
#include "daemon/log/Logger.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kClean = 0;
constexpr int kWarned = 1;
constexpr int kUsage = 2;

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: qxpilot check-config FILE\n\n"
                 "Loads the piloting configuration FILE as the daemon does and prints the warnings and the dump\n"
                 "the daemon would write to its log. FILE is taken relative to the current folder (the daemon\n"
                 "looks for a name without a folder in the Windows folder instead).\n"
                 "Exit status: 0 no warning, 1 warnings or errors (or no rule at all), 2 usage.\n");
}

// The full path of `name` relative to the current folder, empty when it cannot be formed.
std::string FullPath(const char* name) {
    DWORD needed = GetFullPathNameA(name, 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::string path(needed, '\0');
    DWORD length = GetFullPathNameA(name, needed, path.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    path.resize(length);
    return path;
}

bool IsFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

int RunCheckConfig(int argc, char** argv) {
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        Usage(stdout);
        return kClean;
    }
    if (argc != 1 || argv[0][0] == '\0') {
        Usage(stderr);
        return kUsage;
    }

    // The profile reader would look for a bare name in the Windows folder; an operator means the file here.
    const std::string path = FullPath(argv[0]);
    if (path.empty() || !IsFile(path)) {
        std::fprintf(stderr, "qxpilot: configuration file not found: %s\n", path.empty() ? argv[0] : path.c_str());
        return kWarned;
    }

    theLogger.attach(GetStdHandle(STD_OUTPUT_HANDLE));
    PilotingConfiguration config;
    LoadConfiguration(config, path.c_str());
    const long warnings = theLogger.warningCount();
    theLogger.close();

    if (config.placeMarkets.empty()) {
        std::fprintf(stderr, "qxpilot: %s holds no piloting rule: every piloting request would fail\n",
                     path.c_str());
        return kWarned;
    }
    if (warnings > 0) {
        std::fprintf(stderr, "qxpilot: %ld warning(s) or error(s) in %s\n", warnings, path.c_str());
        return kWarned;
    }
    return kClean;
}
