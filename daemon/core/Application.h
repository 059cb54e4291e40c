// The daemon's application object: bound to the control window, owns the piloting configuration.
#pragma once

#include "common/QXRequests.h"
#include "daemon/config/ConfigModel.h"

#include <windows.h>

#include <cstdint>

class CApplication {
public:
    CApplication() = default;
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // First start request only: empties the module registry, stores the terminal address and port,
    // loads the configuration and starts the proxy thread. Null or later requests do nothing.
    void StartOnDemand(const StartRequest* request);

    // Reads the rule sections of a profile file into `config`, then dumps the model to the log.
    void LoadConfiguration(const char* fileName);
    void DumpConfiguration();
    // Null when no rule applies; the reason is logged.
    const PilotingKey* FindPilotingKey(const char* group, const char* creditClass, const char* underlying);
    void PilotInstrument(std::int32_t place, std::int32_t codeMiddle, std::int32_t market, const char* group,
                         const char* isin, const char* currency, const char* symbol, const char* creditClass,
                         const char* underlying);

    HWND window = nullptr;
    PilotingConfiguration config;  // placeMarkets, currentPlace, currentMarket, currentSection
    bool startedOnDemand = false;
};

// Ends the proxy thread, then the message loop.
void OnStopRequest();
