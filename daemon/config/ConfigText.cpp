#include "daemon/config/ConfigText.h"

#include <windows.h>

#include <limits>

bool NextListItem(ListCursor& cursor, std::string& item) {
    const char* start = cursor.position;
    if (start == nullptr || *start == '\0') return false;
    const char* end = start;
    while (*end != '\0' && *end != cursor.delimiter) ++end;
    item.assign(start, end);
    // A zero delimiter is the zero that ends the item; any other one is skipped only when present.
    if (cursor.delimiter == '\0' || *end == cursor.delimiter) ++end;
    cursor.position = end;
    return true;
}

std::int32_t ReadInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    // Accumulate towards the bound of the sign so that the most negative value still fits.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::string UpperAnsi(std::string text) {
    if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}
