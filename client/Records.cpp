#include "client/ClientCore.h"

// Value-initialised records are zero-filled throughout, padding included, so no stack bytes of the caller
// travel to the daemon.

StartRequest MakeStartRequest(const char* address, std::int32_t port, const char* configFile) noexcept {
    StartRequest record{};
    CopyField(record.address, address);
    record.port = port;
    CopyField(record.configFile, configFile);
    return record;
}

ModuleRequest MakeModuleRequest(const char* moduleName, const char* windowKind) noexcept {
    ModuleRequest record{};
    CopyField(record.moduleName, moduleName);
    CopyField(record.windowKind, windowKind);
    return record;
}

PilotRequest MakePilotRequest(const PilotArguments& arguments) noexcept {
    PilotRequest record{};
    record.place = arguments.place;
    record.codeMiddle = arguments.codeMiddle;
    record.market = arguments.market;
    record.extraNumber = arguments.extraNumber;
    CopyField(record.symbol, arguments.symbol);
    CopyField(record.extraCode, arguments.extraCode);
    CopyField(record.group, arguments.group);
    CopyField(record.isin, arguments.isin);
    CopyField(record.currency, arguments.currency);
    CopyField(record.creditClass, arguments.creditClass);
    CopyField(record.underlying, arguments.underlying);
    return record;
}
