// qx_logwriter DIR TAG COUNT [batch]: appends COUNT lines "TAG n" to the daemon's log file in DIR
// (with "batch", gathered in a LogBatch).
#include "daemon/log/Logger.h"

#include <cstdlib>
#include <cstring>
#include <optional>

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "batch") == 0)) return 2;
    theLogger.open(argv[1]);
    if (!theLogger.isOpen()) return 3;
    std::optional<LogBatch> batch;
    if (argc == 5) batch.emplace(theLogger);
    int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        if (!theLogger.message(LogInfo, "%s %d", argv[2], i)) return 4;
    }
    return 0;
}
