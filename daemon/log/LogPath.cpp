#include "daemon/log/LogPath.h"

#include <cstring>

std::string ParseLogPath(const char* commandLine) {
    if (commandLine == nullptr) return {};
    static constexpr char kOption[] = "-log_path=";
    const char* found = std::strstr(commandLine, kOption);
    if (found == nullptr) return {};
    std::string value = found + (sizeof kOption - 1);
    if (value.empty()) return {};
    if (value.front() == '"') {
        std::size_t close = value.find('"', 1);
        if (close == std::string::npos) return value;  // unterminated quote: kept, the path will not open
        return value.substr(1, close - 1);
    }
    std::size_t blank = value.find(' ');
    return blank == std::string::npos ? value : value.substr(0, blank);
}
