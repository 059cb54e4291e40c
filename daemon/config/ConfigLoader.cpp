#include "daemon/config/ConfigLoader.h"

#include "daemon/config/ConfigChecks.h"
#include "daemon/config/ConfigText.h"
#include "daemon/core/Application.h"
#include "daemon/log/Logger.h"

#include <windows.h>

#include <cstdint>
#include <new>

namespace {

// A comma-separated list; an empty value gives the one item `whenEmpty`.
std::vector<std::string> ListItems(const std::string& value, const char* whenEmpty) {
    std::vector<std::string> items;
    if (value.empty()) {
        items.emplace_back(whenEmpty);
        return items;
    }
    ListCursor cursor{value.c_str(), ','};
    std::string item;
    while (NextListItem(cursor, item)) items.push_back(item);
    return items;
}

}  // namespace

std::vector<std::string> SectionNamesFromList(const char* list) {
    std::vector<std::string> names;
    ListCursor cursor{list, '\0'};
    std::string name;
    while (NextListItem(cursor, name)) {
        std::size_t comma = name.find(',');
        names.push_back(comma == std::string::npos ? name : name.substr(comma + 1));
    }
    return names;
}

std::vector<std::string> ReadSectionNames(const char* fileName) {
    // Large desks keep thousands of sections: the buffer grows until the reader no longer cuts the list
    // (it then returns size - 2), so that no rule is silently left out. Two zeros beyond the reader's
    // reach end the list whatever it writes.
    std::vector<char> buffer;
    DWORD size = kSectionNamesFirstBufferSize;
    try {
        buffer.assign(size + 2, '\0');
        while (GetPrivateProfileSectionNamesA(buffer.data(), size, fileName) == size - 2) {
            if (size > MAXDWORD / 4) throw std::bad_alloc();
            std::vector<char> larger(size * 2 + 2, '\0');
            buffer.swap(larger);
            size *= 2;
        }
    } catch (const std::bad_alloc&) {
        theLogger.message(LogError, "Not enough memory to read every section name of %s: sections beyond the "
                                    "first %lu bytes of names are ignored",
                          fileName, static_cast<unsigned long>(size));
        if (buffer.empty()) return {};
        // The list was cut, so its last name may be incomplete.
        std::vector<std::string> names = SectionNamesFromList(buffer.data());
        if (!names.empty()) names.pop_back();
        return names;
    }
    return SectionNamesFromList(buffer.data());
}

bool IsRuleSection(const std::string& name) {
    return name.find("Extension") != std::string::npos && !name.starts_with('-');
}

std::uint64_t CountListItems(const std::string& value) {
    if (value.empty()) return 1;
    std::uint64_t commas = 0;
    for (char c : value) commas += c == ',';
    return commas + 1 - (value.back() == ',' ? 1 : 0);
}

std::uint64_t SectionCombinations(const SectionValues& values) {
    std::uint64_t product = 1;
    for (const char* key : {"Market", "CreditClass", "Underlying", "Group"}) {
        const std::uint64_t items = CountListItems(GetSectionValue(values, key));
        // Saturates instead of wrapping: a few long lists can exceed 64 bits.
        if (items != 0 && product > UINT64_MAX / items) return UINT64_MAX;
        product *= items;
    }
    return product;
}

std::uint64_t ApplyRuleSection(PilotingConfiguration& config, const std::string& sectionName,
                               const SectionValues& values, std::uint64_t allowedCombinations) {
    config.currentSection = sectionName;
    const std::int32_t place = ReadInteger(GetSectionValue(values, "Place"));
    if (place == 0) return 0;
    config.currentPlace = place;

    const std::string extension = GetSectionValue(values, "QXExtension");
    const std::string keyType = UpperAnsi(GetSectionValue(values, "QXSymbol"));
    CheckKeyType(keyType);

    // Counted before any list is split, so that an oversized section costs nothing.
    const std::uint64_t combinations = SectionCombinations(values);
    if (combinations > allowedCombinations) {
        theLogger.message(LogError,
                          "Section [%s] skipped: its lists make %llu combinations of market, credit class, "
                          "underlying and group, more than the %llu left of the %llu a configuration may hold",
                          sectionName.c_str(), static_cast<unsigned long long>(combinations),
                          static_cast<unsigned long long>(allowedCombinations),
                          static_cast<unsigned long long>(kMaxCombinationsPerLoad));
        return 0;
    }

    std::vector<std::int32_t> markets;
    const std::string marketList = GetSectionValue(values, "Market");
    if (marketList.empty()) {
        markets.push_back(AnyMarket);
    } else {
        for (const std::string& item : ListItems(marketList, "")) markets.push_back(ReadInteger(item));
    }
    const std::vector<std::string> groups = ListItems(GetSectionValue(values, "Group"), DefaultGroup);
    const std::vector<std::string> creditClasses =
        ListItems(GetSectionValue(values, "CreditClass"), DefaultCreditClass);
    const std::vector<std::string> underlyings = ListItems(GetSectionValue(values, "Underlying"), DefaultUnderlying);

    // Redundancy warnings come out in this order.
    for (std::int32_t market : markets)
        for (const std::string& creditClass : creditClasses)
            for (const std::string& underlying : underlyings)
                for (const std::string& group : groups)
                    SetPilotingKey(config, place, market, creditClass, underlying, group, extension, keyType);
    return combinations;
}

void LoadConfiguration(PilotingConfiguration& config, const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return;

    // Checks and dump can write a few lines per rule: gathered, they cost a write per block, not per line.
    LogBatch batch(theLogger);
    // Every name is known before the first section is applied.
    const std::vector<std::string> names = ReadSectionNames(fileName);
    std::uint64_t allowed = kMaxCombinationsPerLoad;
    for (const std::string& name : names) {
        if (!IsRuleSection(name)) continue;
        if (name.size() > kSectionNameLimit) {
            theLogger.message(LogWarning, "Section [%.40s...] skipped: its name has %lu characters, more than %lu",
                              name.c_str(), static_cast<unsigned long>(name.size()),
                              static_cast<unsigned long>(kSectionNameLimit));
            continue;
        }
        SectionValues values;
        ReadSection(values, fileName, name.c_str());
        allowed -= ApplyRuleSection(config, name, values, allowed);
    }
    DumpConfiguration(config);
}

void CApplication::LoadConfiguration(const char* fileName) { ::LoadConfiguration(config, fileName); }
void CApplication::DumpConfiguration() { ::DumpConfiguration(config); }
