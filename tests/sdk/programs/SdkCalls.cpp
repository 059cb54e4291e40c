// One fixed table of export calls, made through the import library: run once per architecture against a
// recording window, the two runs must put the same bytes on the wire. Prints each call's return code.
#include "client/IQXPilotSt.h"

#include <climits>
#include <cstdio>
#include <string>

int main() {
    const std::string a64(64, 'a'), c400(400, 'c'), m40 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    const std::string s50(50, 's'), e11(11, 'e'), g6(6, 'g'), i13(13, 'i'), u33(33, 'u');
    int results[] = {
        StartQuodrix("127.0.0.1", 7001, "qxpilot.dat"),
        StartQuodrix(nullptr, INT_MIN, nullptr),
        StartQuodrix(a64.c_str(), INT_MAX, c400.c_str()),
        StartQuodrix_Utf8("10.0.0.1", -5, "caf\xC3\xA9.dat"),
        AddPilotingModule("Trader", "Vista"),
        AddPilotingModule(m40.c_str(), nullptr),
        PilotQuodrix(25, 7, 1, 99, "ABC", "EXTRA", "GRP", "XS0000000017", "EUR", "CC1", "UNDER"),
        PilotQuodrix(-1, INT_MAX, INT_MIN, 0x01020304, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr),
        PilotQuodrix(1, 2, 3, 4, s50.c_str(), e11.c_str(), g6.c_str(), i13.c_str(), "EURO", "CREDIT", u33.c_str()),
        StopDaemon(),
    };
    for (int rc : results) std::printf("%d\n", rc);
    std::printf("last error %d\n", GetSystemLastError());
    return 0;
}
