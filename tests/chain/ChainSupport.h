// Helpers of the whole-chain tests: the client library as an application loads it, a hand-started terminal
// simulator with its journal, the piloting rules of the tests, and readable journal extracts.
#pragma once

#include "tests/support/Simulator.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qxtest {

// IQXPilotSt.dll loaded from beside the test program with LoadLibrary, exactly as an application does.
class ClientLibrary {
public:
    ClientLibrary();
    ~ClientLibrary();
    ClientLibrary(const ClientLibrary&) = delete;
    ClientLibrary& operator=(const ClientLibrary&) = delete;
    bool loaded() const;

    int StartDaemon(const std::string& logDir);
    int StopDaemon();
    int StartQuodrix(const std::string& address, std::int32_t port, const std::string& configFile);
    int AddPilotingModule(const std::string& moduleName, const std::string& windowKind);

    struct Instrument {
        std::int32_t place = 0;
        std::int32_t codeMiddle = 0;
        std::int32_t market = 0;
        std::string symbol;
        std::string group;
        std::string isin;
        std::string currency;
    };
    int PilotQuodrix(const Instrument& instrument);

private:
    struct Exports;
    HMODULE m_module = nullptr;
    std::unique_ptr<Exports> m_exports;
};

// Piloting rules covering the four key types, and the instruments that pick each one.
std::string ChainConfigurationText();
// Place 25 market 1: ISIN; market 2: ISIN with currency; place 40: KTVID; place 50: symbol;
// place 70: symbol with an extension long enough to make a 300-character value.
ClientLibrary::Instrument IsinInstrument();          // ISIN=FR0000120271.PA
ClientLibrary::Instrument IsinCurrencyInstrument();  // ISINC=FR0000120271EUR.PA
ClientLibrary::Instrument KtvidInstrument();         // KTV=004000501000ENI
ClientLibrary::Instrument SymbolInstrument();        // VOD.L
ClientLibrary::Instrument LongValueInstrument();     // LONG + 296 characters
std::string LongValue();

// The journal's Pilot calls, one text each: "<call> <window> <value>", News with "(<topic>)" before the value,
// and " hr=..." when the call failed.
std::vector<std::string> PilotCalls(const std::string& journal);
// The journal's lines of one call as "<field>=<value>" texts joined by blanks, for the fields named.
std::vector<std::string> CallFields(const std::string& journal, const std::string& call,
                                    const std::vector<std::string>& fields);
// How many Pilot calls the journal holds.
std::size_t PilotCount(const std::string& journal);
bool WaitForPilotCount(const std::string& journal, std::size_t count);

// How many log lines have exactly this text.
std::size_t CountLogText(const std::string& logDir, const std::string& text);
bool WaitForLogCount(const std::string& logDir, const std::string& text, std::size_t count);

// The piloting lines of the log after their prefix, for the lines whose text starts with one of `starts`.
std::vector<std::string> LogLinesStartingWith(const std::string& logDir, const std::vector<std::string>& starts);

}  // namespace qxtest
