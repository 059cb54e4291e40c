#include "daemon/log/LogFormat.h"

#include <cstdio>
#include <cstring>

const char* SeverityTag(int severity) noexcept {
    switch (severity) {
    case 0: return "  ";
    case 1: return "WW";
    case 2: return "EE";
    case 3: return "FF";
    default: return "--";
    }
}

void FormatMessagePrefix(char (&out)[kLogPrefixSize], int severity, const SYSTEMTIME& t) noexcept {
    std::memset(out, 0, sizeof out);
    std::snprintf(out, sizeof out, "%s %02d:%02d:%02d:%03d   ", SeverityTag(severity), t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
}

void FormatTracePrefix(char (&out)[kLogPrefixSize], int level, const SYSTEMTIME& t) noexcept {
    std::memset(out, 0, sizeof out);
    std::snprintf(out, sizeof out, "%2d %02d:%02d:%02d:%03d   ", level, t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
}

std::size_t FinalLineFeeds(const char* text, std::size_t length) noexcept {
    std::size_t count = 0;
    while (count < length && text[length - 1 - count] == '\n') ++count;
    return count;
}

int FormatLogText(char (&out)[kLogTextSize], const char* format, va_list args) noexcept {
    if (format == nullptr) return -1;
    // vsnprintf cuts at the buffer's end; keep at most kLogTextMaxChars so that CR LF still fits.
    int n = std::vsnprintf(out, kLogTextMaxChars + 1, format, args);
    if (n < 0) return -1;
    // A cut text ends inside the format or an argument: none of its line feeds is the format's own.
    std::size_t own = 0;
    if (n > static_cast<int>(kLogTextMaxChars)) n = static_cast<int>(kLogTextMaxChars);
    else own = FinalLineFeeds(format, std::strlen(format));
    KeepOnOneLine(out, static_cast<std::size_t>(n), own);
    return n;
}

void KeepOnOneLine(char* text, std::size_t length, std::size_t keptFinalLineFeeds) noexcept {
    std::size_t kept = FinalLineFeeds(text, length);
    if (kept > keptFinalLineFeeds) kept = keptFinalLineFeeds;
    for (std::size_t i = 0; i + kept < length; ++i) {
        if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
    }
}

std::string LogFileName(const std::string& directory, int year, int month, int day) {
    char date[10] = {};
    std::snprintf(date, sizeof date, "%4d%2d%2d", year % 10000, month % 100, day % 100);
    if (date[4] == ' ') date[4] = '0';
    if (date[6] == ' ') date[6] = '0';
    std::string name = directory;
    if (!name.empty() && name.back() != '\\') name += '\\';
    name += "qxpilotst_";
    name += date;
    name += ".log";
    return name;
}

std::string ProcessStartedText(int year, int month, int day, int hour, int minute, int second) {
    char text[25] = {};
    std::snprintf(text, sizeof text, "%4d/%2d/%2d - %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}
