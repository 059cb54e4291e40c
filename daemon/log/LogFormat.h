// Pure formatting of the log file's name and line layouts; no file access here.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

constexpr std::size_t kLogPrefixSize = 32;      // prefix buffer, terminator included
constexpr std::size_t kLogTextSize = 16000;     // text buffer
constexpr std::size_t kLogTextMaxChars = 15997; // characters of text kept on a line
constexpr std::size_t kLogTextColumn = 18;      // every layout puts the text after 18 characters

// "  ", "WW", "EE", "FF", or "--" for any other severity.
const char* SeverityTag(int severity) noexcept;

// "EE 14:03:27:045   "
void FormatMessagePrefix(char (&out)[kLogPrefixSize], int severity, const SYSTEMTIME& time) noexcept;
// " 5 14:03:27:046   "
void FormatTracePrefix(char (&out)[kLogPrefixSize], int level, const SYSTEMTIME& time) noexcept;

// Formats the text of a line, cut to kLogTextMaxChars characters and kept on one line (KeepOnOneLine, keeping
// the LFs that end the format itself).
// Returns the length, or -1 when the format cannot be applied.
int FormatLogText(char (&out)[kLogTextSize], const char* format, va_list args) noexcept;

// Texts from requests and from the terminal reach the log verbatim; a CR or LF in one would end the line early
// and let the rest pass for a line of its own. Every CR and LF becomes a blank, except the last
// `keptFinalLineFeeds` LFs of the text: the format's own (the dump's "End Dumping\n"), as far as the text still
// ends with them.
void KeepOnOneLine(char* text, std::size_t length, std::size_t keptFinalLineFeeds) noexcept;
// How many LFs end `text`.
std::size_t FinalLineFeeds(const char* text, std::size_t length) noexcept;

// "qxpilotst_YYYYMMDD.log" in `directory` (a backslash added unless empty or already ending with one).
std::string LogFileName(const std::string& directory, int year, int month, int day);

// Header value of "Process Started": "%4d/%2d/%2d - %02d:%02d:%02d", cut to 24 characters.
std::string ProcessStartedText(int year, int month, int day, int hour, int minute, int second);
