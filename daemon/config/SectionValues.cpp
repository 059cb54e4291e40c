#include "daemon/config/SectionValues.h"

#include "daemon/config/ConfigText.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

void ParseSectionLines(SectionValues& values, const char* lines) {
    values.clear();
    ListCursor cursor{lines, '\0'};
    std::string line;
    while (NextListItem(cursor, line)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        std::string name = UpperAscii(line.substr(0, std::min(equals, kSectionKeyNameLimit)));
        values[std::move(name)] = line.substr(equals + 1);
    }
}

bool ReadSection(SectionValues& values, const char* fileName, const char* sectionName) {
    values.clear();
    std::vector<char> buffer;
    try {
        // Two zeros beyond the reader's reach end the lines whatever it writes.
        DWORD size = kSectionFirstBufferSize;
        buffer.assign(size + 2, '\0');
        // The reader returns size - 2 when the section did not fit.
        while (GetPrivateProfileSectionA(sectionName, buffer.data(), size, fileName) == size - 2) {
            if (size > MAXDWORD / 4) return false;
            size *= 2;
            buffer.assign(size + 2, '\0');
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    ParseSectionLines(values, buffer.data());
    return true;
}

std::string GetSectionValue(const SectionValues& values, const std::string& keyName) {
    auto found = values.find(UpperAscii(keyName.substr(0, kSectionKeyNameLimit)));
    return found == values.end() ? std::string() : found->second;
}
