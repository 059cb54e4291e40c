#include "daemon/piloting/Piloting.h"

#include "daemon/core/Application.h"
#include "daemon/log/Logger.h"
#include "daemon/proxy/ProxyData.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::string Format(const char* format, ...) QX_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

// The entry under `key`, or else the one under "DEFAULT"; end() when neither exists.
template <typename Table>
typename Table::const_iterator FindOrDefault(const Table& table, const std::string& key, const char* defaultKey) {
    auto found = table.find(key);
    if (found == table.end()) found = table.find(defaultKey);
    return found;
}

}  // namespace

PilotingKeyLookup LookUpPilotingKey(const PlaceMarketTable& placeMarkets, std::int32_t place, std::int32_t market,
                                    const char* group, const char* creditClass, const char* underlying) {
    const std::string groupText = Text(group);
    const std::string creditClassText = Text(creditClass);
    const std::string underlyingText = Text(underlying);

    PilotingKeyLookup result;
    result.market = market;
    auto placeMarket = placeMarkets.find(PlaceMarketKey{place, market});
    if (placeMarket == placeMarkets.end()) {
        result.market = AnyMarket;
        placeMarket = placeMarkets.find(PlaceMarketKey{place, AnyMarket});
    }
    if (placeMarket == placeMarkets.end()) {
        result.line = "The Verid was not found";
        return result;
    }

    auto credit = FindOrDefault(placeMarket->second, creditClassText, DefaultCreditClass);
    if (credit == placeMarket->second.end()) {
        result.line = Format("The Credit Class [%s] was not found and no management of default value.",
                             creditClassText.c_str());
        return result;
    }
    auto under = FindOrDefault(credit->second, underlyingText, DefaultUnderlying);
    if (under == credit->second.end()) {
        result.line = Format("The underlying [%s] was not found and no management of default value.",
                             underlyingText.c_str());
        return result;
    }
    auto leaf = FindOrDefault(under->second, groupText, DefaultGroup);
    if (leaf == under->second.end()) {
        result.line =
            Format("The group [%s] was not found and no management of default value.", groupText.c_str());
        return result;
    }

    result.key = &leaf->second;
    result.line = Format(
        "Piloting key found on : place [%d], market [%d], credit class [%s], underlying [%s] and group [%s]",
        placeMarket->first.place, placeMarket->first.market, credit->first.c_str(), under->first.c_str(),
        leaf->first.c_str());
    return result;
}

const PilotingKey* FindPilotingKey(PilotingConfiguration& config, const char* group, const char* creditClass,
                                   const char* underlying) {
    PilotingKeyLookup found =
        LookUpPilotingKey(config.placeMarkets, config.currentPlace, config.currentMarket, group, creditClass, underlying);
    config.currentMarket = found.market;
    if (found.key != nullptr)
        theLogger.trace(3, "%s", found.line.c_str());
    else
        theLogger.message(LogError, "%s", found.line.c_str());
    return found.key;
}

std::string KtvidCode(std::int32_t place, std::int32_t codeMiddle, std::int32_t market) {
    // long is 32 bits here, as the format expects; the length is measured so that wide numbers fit.
    return Format("%04ld%03ld%02ld%03ld", static_cast<long>(place), static_cast<long>(codeMiddle),
                  static_cast<long>(market), 0L);
}

std::optional<EncodedPilotingValue> EncodePilotingValue(const std::string& keyType, const std::string& extension,
                                                        const InstrumentIdentifiers& ids) {
    const std::string isin = Text(ids.isin);
    const std::string currency = Text(ids.currency);
    const std::string symbol = Text(ids.symbol);

    // Concatenation by +=: the parts follow each other without separators.
    auto join = [](std::initializer_list<const std::string*> parts) {
        std::size_t size = 0;
        for (const std::string* part : parts) size += part->size();
        std::string value;
        value.reserve(size);
        for (const std::string* part : parts) value += *part;
        return value;
    };
    static const std::string isinPrefix = "ISIN=";
    static const std::string isinCurrencyPrefix = "ISINC=";
    static const std::string ktvidPrefix = "KTV=";

    if (keyType == KeyTypeIsin) {
        if (isin.empty()) return EncodedPilotingValue{"Piloting using Isin value", join({&symbol, &extension})};
        return EncodedPilotingValue{"Piloting using Isin value", join({&isinPrefix, &isin, &extension})};
    }
    if (keyType == KeyTypeIsinCurrency) {
        const char* trace = "Piloting using Isin and Currency values";
        if (isin.empty() || currency.empty()) return EncodedPilotingValue{trace, join({&symbol, &extension})};
        return EncodedPilotingValue{trace, join({&isinCurrencyPrefix, &isin, &currency, &extension})};
    }
    if (keyType == KeyTypeKtvid) {
        const std::string code = KtvidCode(ids.place, ids.codeMiddle, ids.market);
        return EncodedPilotingValue{"Piloting using KTVID", join({&ktvidPrefix, &code, &symbol, &extension})};
    }
    if (keyType == KeyTypeSymbol) return EncodedPilotingValue{"Piloting using Symbol", join({&symbol, &extension})};
    return std::nullopt;
}

std::optional<std::string> ResolvePilotingValue(PilotingConfiguration& config, std::int32_t place,
                                                std::int32_t codeMiddle, std::int32_t market, const char* group,
                                                const char* isin, const char* currency, const char* symbol,
                                                const char* creditClass, const char* underlying) {
    config.currentMarket = market;
    const PilotingKey* key = FindPilotingKey(config, group, creditClass, underlying);
    if (key == nullptr) return std::nullopt;

    // The code carries the request's own market, not the one the lookup may have fallen back to.
    InstrumentIdentifiers ids{place, codeMiddle, market, isin, currency, symbol};
    std::optional<EncodedPilotingValue> encoded = EncodePilotingValue(key->keyType, key->extension, ids);
    if (!encoded) return std::nullopt;
    theLogger.trace(3, "%s", encoded->trace);
    return std::move(encoded->value);
}

void PostPilotingValue(const char* value) {
    if (value == nullptr) return;
    std::string copy(value);
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_pendingValue.swap(copy);
    }
    // `copy` now holds the previous value, released here, outside the lock.
    DWORD threadId = 0;
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        threadId = theProxyData.m_threadId;
    }
    // Without a proxy thread (id 0) the post fails; the value waits for the next piloting pass.
    PostThreadMessageA(threadId, QXPROXY_MSG_PILOT, 0, 0);
}

const PilotingKey* CApplication::FindPilotingKey(const char* group, const char* creditClass, const char* underlying) {
    return ::FindPilotingKey(config, group, creditClass, underlying);
}

void CApplication::PilotInstrument(std::int32_t place, std::int32_t codeMiddle, std::int32_t market,
                                   const char* group, const char* isin, const char* currency, const char* symbol,
                                   const char* creditClass, const char* underlying) {
    std::optional<std::string> value = ResolvePilotingValue(config, place, codeMiddle, market, group, isin, currency,
                                                            symbol, creditClass, underlying);
    if (!value) return;
    PostPilotingValue(value->c_str());
    theLogger.trace(1, "Value that had been sent to Quodrix : [%s]", value->c_str());
}
