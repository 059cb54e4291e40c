// Piloting resolution: from a pilot request to the piloting value handed to the proxy thread.
#pragma once

#include "daemon/config/ConfigModel.h"

#include <cstdint>
#include <optional>
#include <string>

// Key types, as the loader stores them (upper case).
inline constexpr char KeyTypeIsin[] = "ISIN";
inline constexpr char KeyTypeIsinCurrency[] = "ISIN_CURRENCY";
inline constexpr char KeyTypeKtvid[] = "KTVID";
inline constexpr char KeyTypeSymbol[] = "SYMBOL";

// Outcome of one walk through the configuration, with the line that tells it.
struct PilotingKeyLookup {
    const PilotingKey* key = nullptr;  // inside the configuration; null when no rule applies
    std::int32_t market = AnyMarket;   // market finally looked up: the request's, or AnyMarket after falling back
    std::string line;                  // success: level-3 trace text; failure: LogError text
};

// Place and market (one fallback to AnyMarket), then credit class, underlying and group (one fallback to
// "DEFAULT" each), never going back to an earlier level. Null texts read as empty.
PilotingKeyLookup LookUpPilotingKey(const PlaceMarketTable& placeMarkets, std::int32_t place, std::int32_t market,
                                    const char* group, const char* creditClass, const char* underlying);

// The lookup with its log line; leaves config.currentMarket at AnyMarket when it fell back.
const PilotingKey* FindPilotingKey(PilotingConfiguration& config, const char* group, const char* creditClass,
                                   const char* underlying);

// Identifiers of the instrument that a piloting value can carry.
struct InstrumentIdentifiers {
    std::int32_t place = 0;
    std::int32_t codeMiddle = 0;
    std::int32_t market = 0;  // the request's own market, whatever the lookup fell back to
    const char* isin = "";
    const char* currency = "";
    const char* symbol = "";
};

struct EncodedPilotingValue {
    const char* trace;  // level-3 line naming the encoding
    std::string value;
};

// The numeric instrument code: place, middle and market zero-padded to 4, 3 and 2 characters, then "000".
// Numbers wider than their field keep all their digits, so the code grows rather than being cut.
std::string KtvidCode(std::int32_t place, std::int32_t codeMiddle, std::int32_t market);

// Builds the value for `keyType` (exact, case-sensitive); nothing for a key type that is none of the four.
std::optional<EncodedPilotingValue> EncodePilotingValue(const std::string& keyType, const std::string& extension,
                                                        const InstrumentIdentifiers& ids);

// What a pilot request resolves to: sets currentMarket to the request's market, looks the key up and
// encodes the value, writing the lookup's and the encoding's log lines. Nothing when no value is to be sent.
std::optional<std::string> ResolvePilotingValue(PilotingConfiguration& config, std::int32_t place,
                                                std::int32_t codeMiddle, std::int32_t market, const char* group,
                                                const char* isin, const char* currency, const char* symbol,
                                                const char* creditClass, const char* underlying);

// Stores `value` as the pending value and tells the proxy thread to pilot; a null value does nothing.
void PostPilotingValue(const char* value);
