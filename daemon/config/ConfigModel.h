// In-memory piloting configuration: (place, market) -> credit class -> underlying -> group -> PilotingKey.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

constexpr std::int32_t AnyMarket = -1;
inline constexpr char DefaultCreditClass[] = "DEFAULT";
inline constexpr char DefaultUnderlying[] = "DEFAULT";
inline constexpr char DefaultGroup[] = "DEFAULT";

constexpr std::size_t kCreditClassKeyLimit = 10;
constexpr std::size_t kUnderlyingKeyLimit = 64;
constexpr std::size_t kGroupKeyLimit = 10;

struct PlaceMarketKey {
    std::int32_t place;
    std::int32_t market;
    auto operator<=>(const PlaceMarketKey&) const = default;
};

struct PilotingKey {
    std::string extension;  // appended to the piloting value, case kept
    std::string keyType;    // upper-cased "QXSymbol" value
};

// Text keys order byte-wise as unsigned (std::string's ordering).
using GroupTable = std::map<std::string, PilotingKey>;
using UnderlyingTable = std::map<std::string, GroupTable>;
using CreditClassTable = std::map<std::string, UnderlyingTable>;
using PlaceMarketTable = std::map<PlaceMarketKey, CreditClassTable>;

// The configuration members of the application object.
struct PilotingConfiguration {
    PlaceMarketTable placeMarkets;
    std::int32_t currentPlace = -1;   // section being applied, or the pilot request's place
    std::int32_t currentMarket = -1;  // pilot request's market; AnyMarket after a lookup fallback
    std::string currentSection;       // section being applied, for the redundancy warning
};

// First `limit` characters of `item`; "DEFAULT" when those, upper-cased, read DEFAULT.
std::string NormaliseKey(const std::string& item, std::size_t limit);

// Sets one leaf, creating the levels on the way; a redefinition with other texts draws the redundancy
// warning, and the last definition wins.
void SetPilotingKey(PilotingConfiguration& config, std::int32_t place, std::int32_t market,
                    const std::string& creditClass, const std::string& underlying, const std::string& group,
                    const std::string& extension, const std::string& keyType);
