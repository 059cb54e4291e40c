// Text helpers of the configuration loader: list splitting, integer reading, upper-casing.
#pragma once

#include <cstdint>
#include <string>

// A position in a zero-terminated text and the character that separates its items.
struct ListCursor {
    const char* position;
    char delimiter;
};

// False when the cursor stands on the terminating zero. Otherwise `item` receives the characters up to the
// next delimiter or the end, and the cursor moves past them and past the delimiter if one follows.
// With the delimiter zero it walks a list of zero-terminated texts ended by an extra zero.
bool NextListItem(ListCursor& cursor, std::string& item);

// Leading blanks, an optional sign and the decimal digits that follow; the rest is ignored. A text without
// digits reads as 0; values beyond the int32 range stop at its bounds.
std::int32_t ReadInteger(const std::string& text);

// Platform (ANSI code page) upper-casing.
std::string UpperAnsi(std::string text);
// Upper-casing of the ASCII letters only.
std::string UpperAscii(std::string text);
