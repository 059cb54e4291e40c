// Pure parts of a piloting pass: the text conversions it makes and which windows a module's kinds select.
#pragma once

#include "daemon/proxy/ProxyData.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The value as the terminal's Pilot calls take it: each byte becomes the UTF-16 code unit of the same number.
// The whole value is converted, whatever its length; it ends at its first NUL.
std::wstring PilotingWideText(const std::string& value);

// Longest group name compared with module names; longer names are cut.
constexpr std::size_t kGroupNameMaxChars = 259;

// A group name read from the terminal's list, as the 8-bit text compared with module names: each code unit
// becomes the byte of the same number, up to the first NUL and at most kGroupNameMaxChars characters. A name
// holding a character above 255 within those reads as the empty text.
std::string GroupNameText(const std::wstring& name);

// A module whose smallest kind is All pilots every window of its group and creates none.
bool IsAllWindowsModule(const WindowKindSet& kinds);

// For a module with specific kinds: whether a window of `kind` receives the value.
bool SelectsWindowKind(const WindowKindSet& kinds, long kind);

// The kinds of a module with specific kinds that its group lacks, ascending, one each; none for an
// all-windows module.
std::vector<std::int32_t> MissingWindowKinds(const WindowKindSet& kinds, const std::set<long>& present);
