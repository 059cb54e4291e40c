// qxpilot: the command-line client of QXPilot, for integrators and operators.
#include "tools/qxpilot/Commands.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* summary;
};

constexpr Command kClientCommands[] = {
    {"start-daemon", "start the daemon process"},
    {"start", "ask the daemon to start the terminal connection and load its configuration"},
    {"add-module", "register a window kind for a piloting module"},
    {"pilot", "pilot the terminal to an instrument"},
    {"stop", "stop the daemon"},
    {"last-error", "print the library's last system error"},
};

void Usage(FILE* out) {
    std::fprintf(out, "usage: qxpilot COMMAND [arguments]   (qxpilot COMMAND --help for details)\n\ncommands:\n");
    for (const Command& c : kClientCommands) std::fprintf(out, "  %-14s %s\n", c.name, c.summary);
    std::fprintf(out, "  %-14s %s\n", "check-config", "check a piloting configuration file and print its dump");
    std::fprintf(out, "  %-14s %s\n", "resolve", "show the piloting value a request would send, without a daemon");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        Usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const char* command = argv[1];
    for (const Command& c : kClientCommands) {
        if (std::strcmp(command, c.name) == 0) return RunClientCommand(command, argc - 2, argv + 2);
    }
    if (std::strcmp(command, "check-config") == 0) return RunCheckConfig(argc - 2, argv + 2);
    if (std::strcmp(command, "resolve") == 0) return RunResolve(argc - 2, argv + 2);
    std::fprintf(stderr, "qxpilot: unknown command '%s'\n\n", command);
    Usage(stderr);
    return 2;
}
