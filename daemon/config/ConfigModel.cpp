#include "daemon/config/ConfigModel.h"

#include "daemon/config/ConfigText.h"
#include "daemon/log/Logger.h"

std::string NormaliseKey(const std::string& item, std::size_t limit) {
    std::string key = item.substr(0, limit);
    if (UpperAnsi(key) == "DEFAULT") return "DEFAULT";
    return key;
}

void SetPilotingKey(PilotingConfiguration& config, std::int32_t place, std::int32_t market,
                    const std::string& creditClass, const std::string& underlying, const std::string& group,
                    const std::string& extension, const std::string& keyType) {
    CreditClassTable& creditClasses = config.placeMarkets[PlaceMarketKey{place, market}];
    UnderlyingTable& underlyings = creditClasses[NormaliseKey(creditClass, kCreditClassKeyLimit)];
    GroupTable& groups = underlyings[NormaliseKey(underlying, kUnderlyingKeyLimit)];
    std::string groupKey = NormaliseKey(group, kGroupKeyLimit);

    auto found = groups.find(groupKey);
    if (found == groups.end()) {
        groups.emplace(std::move(groupKey), PilotingKey{extension, keyType});
        return;
    }
    PilotingKey& existing = found->second;
    if (existing.extension != extension || existing.keyType != keyType) {
        theLogger.message(LogError,
                          "The piloting Key is redundant, please check section [%s], another section contains the "
                          "same keys for the same place [%d]",
                          config.currentSection.c_str(), config.currentPlace);
    }
    existing.extension = extension;
    existing.keyType = keyType;
}
