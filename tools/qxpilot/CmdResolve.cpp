// Placeholder until this command is written.
#include "tools/qxpilot/Commands.h"

#include <cstdio>

int RunResolve(int, char**) {
    std::fprintf(stderr, "qxpilot: not available yet\n");
    return 2;
}
