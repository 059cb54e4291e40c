// The exported entry points of IQXPilotSt.dll: undecorated C names (see IQXPilotSt.def), thin over the logic.
#define IQXPILOTST_BUILDING
#include "client/IQXPilotSt.h"

#include "client/ClientCore.h"

extern "C" {

int32_t IQXPILOTST_CALL StartDaemon(const char* exePath, uint8_t integrityLaunch, const char* logDir) {
    return LaunchDaemon(exePath, integrityLaunch != 0, logDir);
}

int32_t IQXPILOTST_CALL StartDaemon_Utf8(const char* exePath, uint8_t integrityLaunch, const char* logDir) {
    return StartDaemonUtf8Flow(exePath, integrityLaunch != 0, logDir, Utf8ToAnsi, LaunchDaemon);
}

int32_t IQXPILOTST_CALL StopDaemon(void) { return ClientStopDaemon(); }

int32_t IQXPILOTST_CALL StartQuodrix(const char* address, int32_t port, const char* configFile) {
    return ClientStartQuodrix(address, port, configFile);
}

int32_t IQXPILOTST_CALL StartQuodrix_Utf8(const char* address, int32_t port, const char* configFile) {
    return StartQuodrixUtf8Flow(address, port, configFile, Utf8ToAnsi, ClientStartQuodrix);
}

int32_t IQXPILOTST_CALL AddPilotingModule(const char* moduleName, const char* windowKind) {
    return ClientAddPilotingModule(moduleName, windowKind);
}

int32_t IQXPILOTST_CALL PilotQuodrix(int32_t place, int32_t codeMiddle, int32_t market, int32_t extraNumber,
                                     const char* symbol, const char* extraCode, const char* group, const char* isin,
                                     const char* currency, const char* creditClass, const char* underlying) {
    PilotArguments arguments;
    arguments.place = place;
    arguments.codeMiddle = codeMiddle;
    arguments.market = market;
    arguments.extraNumber = extraNumber;
    arguments.symbol = symbol;
    arguments.extraCode = extraCode;
    arguments.group = group;
    arguments.isin = isin;
    arguments.currency = currency;
    arguments.creditClass = creditClass;
    arguments.underlying = underlying;
    return ClientPilotQuodrix(arguments);
}

int32_t IQXPILOTST_CALL GetSystemLastError(void) { return static_cast<int32_t>(LastSystemError()); }

// Loading and unloading have nothing to set up or tear down.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

}  // extern "C"
