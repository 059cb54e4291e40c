// qx_pilot_burst TAG COUNT: COUNT PilotQuodrix calls through IQXPilotSt.dll, symbols TAG0 ... TAG<COUNT-1>,
// as fast as the daemon answers. Exit status 0 when every call returned 0, 1 otherwise, 2 on bad arguments.
#include "tests/hardening/HardeningSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    qxtest::ClientDll dll;
    if (!dll.loaded()) return 1;
    const int count = std::atoi(argv[2]);
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        std::string symbol = argv[1] + std::to_string(i);
        if (dll.PilotQuodrix(25, 7, 1, 0, symbol.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 0)
            ++failed;
    }
    if (failed) std::fprintf(stderr, "%d of %d calls failed\n", failed, count);
    return failed ? 1 : 0;
}
