// Loading of the piloting rules from a profile (INI) file.
#pragma once

#include "daemon/config/ConfigModel.h"
#include "daemon/config/SectionValues.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Longest section name applied; a longer rule section is skipped with a warning.
constexpr std::size_t kSectionNameLimit = 259;
// The first buffer for the list of section names; it doubles until every name fits.
constexpr unsigned kSectionNamesFirstBufferSize = 8192;

// The names of a profile reader's zero-separated list, in order, each without the text up to and
// including its first comma.
std::vector<std::string> SectionNamesFromList(const char* list);

// Every section name of `fileName`, read through the profile reader (none when the file is missing).
std::vector<std::string> ReadSectionNames(const char* fileName);

// Names containing "Extension" (case-sensitive) and not starting with "-" hold piloting rules.
bool IsRuleSection(const std::string& name);

// Most combinations (market x credit class x underlying x group) one load applies, all sections together.
// Lists multiply: a few hundred bytes of list values could otherwise ask for billions of entries (hours of
// work, gigabytes of memory and of log). A desk of 10,000 sections of 2 markets x 2 groups uses 40,000.
constexpr std::uint64_t kMaxCombinationsPerLoad = 1000000;

// Items a list value splits into (an empty value counts as its one default item).
std::uint64_t CountListItems(const std::string& value);
// Market x credit class x underlying x group items of a section, saturating at UINT64_MAX.
std::uint64_t SectionCombinations(const SectionValues& values);

// Applies one rule section: checks its key type and sets a PilotingKey for every combination of its
// markets, credit classes, underlyings and groups. A section whose place reads as 0 adds nothing; one with
// more combinations than `allowedCombinations` adds nothing and is reported. Returns the combinations set.
std::uint64_t ApplyRuleSection(PilotingConfiguration& config, const std::string& sectionName,
                               const SectionValues& values,
                               std::uint64_t allowedCombinations = kMaxCombinationsPerLoad);

// Applies every rule section of `fileName` to `config`, then dumps the model; an empty name does nothing.
// The name goes to the profile reader as given: a name without a folder is looked for in the Windows folder.
void LoadConfiguration(PilotingConfiguration& config, const char* fileName);
