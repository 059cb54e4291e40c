// qx_logwriter DIR TAG COUNT: appends COUNT lines "TAG n" to the daemon's log file in DIR.
#include "daemon/log/Logger.h"

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    theLogger.open(argv[1]);
    if (!theLogger.isOpen()) return 3;
    int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        if (!theLogger.message(LogInfo, "%s %d", argv[2], i)) return 4;
    }
    return 0;
}
