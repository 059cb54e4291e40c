#include "daemon/config/ConfigChecks.h"

#include "daemon/log/Logger.h"

void CheckKeyType(const std::string& keyType) {
    for (const char* known : {"ISIN", "ISIN_CURRENCY", "SYMBOL", "KTVID"}) {
        if (keyType == known) return;
    }
    // KTVID is accepted although the text names three types: the wording stays as operators know it.
    theLogger.message(LogError, "Invalid Piloting Key <%s>, should be one of the following : ISIN, ISIN_CURRENCY, SYMBOL",
                      keyType.c_str());
}

void DumpConfiguration(const PilotingConfiguration& config) {
    if (config.placeMarkets.empty()) return;

    // The file name is fixed in this line whatever file was read.
    theLogger.trace(5, "Dumping the extension read from qxpilot.dat file\n");
    for (const auto& [placeMarket, creditClasses] : config.placeMarkets) {
        const int place = placeMarket.place;
        theLogger.trace(5, "Place [%d] market [%d]", place, placeMarket.market);
        if (!creditClasses.contains(DefaultCreditClass)) {
            theLogger.message(LogWarning,
                              "No management of default Credit Class for Place %d, : some of the instruments may "
                              "not be piloted as it should be",
                              place);
        }
        for (const auto& [creditClass, underlyings] : creditClasses) {
            theLogger.trace(5, "\tCredit Class [%s]", creditClass.c_str());
            if (!underlyings.contains(DefaultUnderlying)) {
                theLogger.message(LogWarning,
                                  "No management of default Underlying for Place %d, : some of the instruments may "
                                  "not be piloted as it should be",
                                  place);
            }
            for (const auto& [underlying, groups] : underlyings) {
                theLogger.trace(5, "\t\tUnderlying [%s]", underlying.c_str());
                if (!groups.contains(DefaultGroup)) {
                    theLogger.message(LogWarning,
                                      "No management of default group for Place %d, : some of the instruments may "
                                      "not be piloted as it should be",
                                      place);
                }
                for (const auto& [group, key] : groups) {
                    theLogger.trace(5, "\t\t\tGroup [%s]", group.c_str());
                    theLogger.trace(5, "\t\t\t\tExtension [%s]", key.extension.c_str());
                    theLogger.trace(5, "\t\t\t\tSymbol [%s]", key.keyType.c_str());
                }
            }
        }
    }
    theLogger.trace(5, "End Dumping\n");
}
