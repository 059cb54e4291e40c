// One rule section of the configuration file in memory, while it is applied.
#pragma once

#include <cstddef>
#include <map>
#include <string>

// Upper-cased key name -> value as written.
using SectionValues = std::map<std::string, std::string>;

// Longest key name kept; longer names are cut. Values are kept whole, since cutting one would silently
// drop the items at the end of a list.
constexpr std::size_t kSectionKeyNameLimit = 255;
// The first reading buffer of a section; it doubles until the whole section fits.
constexpr unsigned kSectionFirstBufferSize = 260;

// Fills `values` from the lines of a section as the profile reader returns them: zero-terminated
// "key=value" lines ended by an empty one. Lines without "=" or with an empty key name are skipped;
// of two lines with the same key name the later one counts.
void ParseSectionLines(SectionValues& values, const char* lines);

// Reads one section of a profile file into `values`. False, with `values` left empty, when the reading
// buffer cannot be allocated or grown.
bool ReadSection(SectionValues& values, const char* fileName, const char* sectionName);

// The value of `keyName` (any letter case), or the empty text.
std::string GetSectionValue(const SectionValues& values, const std::string& keyName);
