#include "tests/chain/ChainSupport.h"

#include "client/IQXPilotSt.h"

#include <algorithm>

namespace qxtest {

struct ClientLibrary::Exports {
    IQXP_StartDaemon_Fn startDaemon = nullptr;
    IQXP_StopDaemon_Fn stopDaemon = nullptr;
    IQXP_StartQuodrix_Fn startQuodrix = nullptr;
    IQXP_AddPilotingModule_Fn addPilotingModule = nullptr;
    IQXP_PilotQuodrix_Fn pilotQuodrix = nullptr;
};

namespace {

template <typename Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// 296 characters: with the symbol "LONG" the value has 300.
std::string LongExtension() {
    std::string extension = ".";
    for (int i = 0; extension.size() < 296; ++i) extension += static_cast<char>('A' + i % 26);
    return extension;
}

}  // namespace

ClientLibrary::ClientLibrary() : m_exports(std::make_unique<Exports>()) {
    m_module = LoadLibraryA(BinPath("IQXPilotSt.dll").c_str());
    if (m_module == nullptr) return;
    m_exports->startDaemon = Export<IQXP_StartDaemon_Fn>(m_module, "StartDaemon");
    m_exports->stopDaemon = Export<IQXP_StopDaemon_Fn>(m_module, "StopDaemon");
    m_exports->startQuodrix = Export<IQXP_StartQuodrix_Fn>(m_module, "StartQuodrix");
    m_exports->addPilotingModule = Export<IQXP_AddPilotingModule_Fn>(m_module, "AddPilotingModule");
    m_exports->pilotQuodrix = Export<IQXP_PilotQuodrix_Fn>(m_module, "PilotQuodrix");
}

ClientLibrary::~ClientLibrary() {
    if (m_module != nullptr) FreeLibrary(m_module);
}

bool ClientLibrary::loaded() const {
    return m_module != nullptr && m_exports->startDaemon && m_exports->stopDaemon && m_exports->startQuodrix &&
           m_exports->addPilotingModule && m_exports->pilotQuodrix;
}

int ClientLibrary::StartDaemon(const std::string& logDir) {
    return m_exports->startDaemon(BinPath("QXPilotSt.exe").c_str(), 0, logDir.c_str());
}

int ClientLibrary::StopDaemon() { return m_exports->stopDaemon(); }

int ClientLibrary::StartQuodrix(const std::string& address, std::int32_t port, const std::string& configFile) {
    return m_exports->startQuodrix(address.c_str(), port, configFile.c_str());
}

int ClientLibrary::AddPilotingModule(const std::string& moduleName, const std::string& windowKind) {
    return m_exports->addPilotingModule(moduleName.c_str(), windowKind.c_str());
}

int ClientLibrary::PilotQuodrix(const Instrument& i) {
    return m_exports->pilotQuodrix(i.place, i.codeMiddle, i.market, 0, i.symbol.c_str(), "", i.group.c_str(),
                                   i.isin.c_str(), i.currency.c_str(), "", "");
}

namespace {
const char kChainConfiguration[] =
    "[Extension_Isin]\r\nPlace=25\r\nMarket=1\r\nQXExtension=.PA\r\nQXSymbol=ISIN\r\n"
    "[Extension_IsinCurrency]\r\nPlace=25\r\nMarket=2\r\nQXExtension=.PA\r\nQXSymbol=ISIN_CURRENCY\r\n"
    "[Extension_Ktvid]\r\nPlace=40\r\nQXSymbol=KTVID\r\n"
    "[Extension_Symbol]\r\nPlace=50\r\nQXExtension=.L\r\nQXSymbol=SYMBOL\r\n"
    "[Extension_Long]\r\nPlace=70\r\nQXSymbol=SYMBOL\r\nQXExtension=";
}  // namespace

ClientLibrary::Instrument IsinInstrument() { return {25, 0, 1, "TTE", "", "FR0000120271", "EUR"}; }
ClientLibrary::Instrument IsinCurrencyInstrument() { return {25, 0, 2, "TTE", "", "FR0000120271", "EUR"}; }
ClientLibrary::Instrument KtvidInstrument() { return {40, 5, 1, "ENI", "", "IT0003132476", "EUR"}; }
ClientLibrary::Instrument SymbolInstrument() { return {50, 0, 3, "VOD", "", "GB00BH4HKS39", "GBP"}; }
ClientLibrary::Instrument LongValueInstrument() { return {70, 0, 1, "LONG", "", "", ""}; }
std::string LongValue() { return "LONG" + LongExtension(); }

std::string ChainConfigurationText() { return kChainConfiguration + LongExtension() + "\r\n"; }

std::vector<std::string> PilotCalls(const std::string& journal) {
    std::vector<std::string> calls;
    for (const JournalEntry& entry : ReadJournal(journal)) {
        const std::string& call = entry.call;
        if (call.size() < 6 || call.compare(call.size() - 6, 6, ".Pilot") != 0) continue;
        std::string text = call + " " + entry.get("window");
        if (entry.has("topic")) text += " (" + entry.get("topic") + ")";
        text += " " + entry.get("value");
        if (entry.get("hr") != "0x00000000") text += " hr=" + entry.get("hr");
        calls.push_back(text);
    }
    return calls;
}

std::vector<std::string> CallFields(const std::string& journal, const std::string& call,
                                    const std::vector<std::string>& fields) {
    std::vector<std::string> lines;
    for (const JournalEntry& entry : JournalCalls(journal, call)) {
        std::string line;
        for (const std::string& field : fields) {
            if (!line.empty()) line += ' ';
            line += field + "=" + entry.get(field);
        }
        lines.push_back(line);
    }
    return lines;
}

std::size_t PilotCount(const std::string& journal) { return PilotCalls(journal).size(); }

bool WaitForPilotCount(const std::string& journal, std::size_t count) {
    return WaitUntil([&] { return PilotCount(journal) >= count; }, std::chrono::seconds(20));
}

std::size_t CountLogText(const std::string& logDir, const std::string& text) {
    std::vector<std::string> lines = LogTexts(logDir);
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

bool WaitForLogCount(const std::string& logDir, const std::string& text, std::size_t count) {
    return WaitUntil([&] { return CountLogText(logDir, text) >= count; }, std::chrono::seconds(20));
}

std::vector<std::string> LogLinesStartingWith(const std::string& logDir, const std::vector<std::string>& starts) {
    std::vector<std::string> lines;
    for (const std::string& line : LogTexts(logDir)) {
        for (const std::string& start : starts) {
            if (line.rfind(start, 0) == 0) {
                lines.push_back(line);
                break;
            }
        }
    }
    return lines;
}

}  // namespace qxtest
