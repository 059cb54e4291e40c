/* The C example of docs/client-api.md: one whole session.
 * usage: client_c_example DAEMON_EXE LOG_DIR */
#include <stdio.h>

#include "client/IQXPilotSt.h"

static int check(const char* call, int32_t rc) {
    if (rc != IQXP_OK) fprintf(stderr, "%s failed: %d (system error %d)\n", call, (int)rc, (int)GetSystemLastError());
    return rc == IQXP_OK;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: client_c_example DAEMON_EXE LOG_DIR\n");
        return 2;
    }
    /* Start the daemon (returns once it serves requests), then the terminal connection, then register the
     * windows this application pilots: the start request empties the module registry. */
    if (!check("StartDaemon", StartDaemon(argv[1], 0, argv[2]))) return 1;
    int ok = check("StartQuodrix", StartQuodrix("127.0.0.1", 7001, "qxpilot.dat")) &&
             check("AddPilotingModule", AddPilotingModule("MyApp", "Vista")) &&
             check("AddPilotingModule", AddPilotingModule("MyApp", "Chart")) &&
             check("PilotQuodrix", PilotQuodrix(25, 7, 1, 0, "ABC", NULL, "G1", "XS0000000017", "EUR", NULL, NULL));
    /* Always stop what we started. */
    ok = check("StopDaemon", StopDaemon()) && ok;
    return ok ? 0 : 1;
}
