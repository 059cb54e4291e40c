/* One whole session through IQXPilotSt.dll, built against the SDK's include/ and lib/<arch>/ only:
 *   x86_64-w64-mingw32-gcc -I include session.c -L lib/x64 -lIQXPilotSt -o session.exe     (MinGW, x64)
 *   i686-w64-mingw32-gcc   -I include session.c -L lib/x86 -lIQXPilotSt -o session.exe     (MinGW, x86)
 *   cl /I include session.c lib\x64\IQXPilotSt.lib                                          (MSVC)
 * Put IQXPilotSt.dll of the same architecture beside session.exe.
 * usage: session DAEMON_EXE LOG_DIR */
#include <stdio.h>

#include "IQXPilotSt.h"

static int check(const char* call, int32_t rc) {
    if (rc != IQXP_OK) fprintf(stderr, "%s failed: %d (system error %d)\n", call, (int)rc, (int)GetSystemLastError());
    return rc == IQXP_OK;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: session DAEMON_EXE LOG_DIR\n");
        return 2;
    }
    /* The daemon first (0 also when one already serves the session), then the terminal connection, then the
     * windows this application pilots: the start request empties the module registry. */
    if (!check("StartDaemon", StartDaemon(argv[1], 0, argv[2]))) return 1;
    int ok = check("StartQuodrix", StartQuodrix("127.0.0.1", 7001, "qxpilot.dat")) &&
             check("AddPilotingModule", AddPilotingModule("MyApp", "Vista")) &&
             check("PilotQuodrix", PilotQuodrix(25, 7, 1, 0, "ABC", NULL, "G1", "XS0000000017", "EUR", NULL, NULL));
    ok = check("StopDaemon", StopDaemon()) && ok;
    printf("%d-bit session %s\n", (int)(sizeof(void*) * 8), ok ? "done" : "FAILED");
    return ok ? 0 : 1;
}
