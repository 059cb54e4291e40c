// Text helpers of the terminal simulator: conversions, the journal line format, command-line quoting.
// Pure functions, shared with the tests that read the journal.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velo {

std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
// A BSTR (null counts as empty) with its full length, embedded NULs included.
std::wstring WideFromBstr(const wchar_t* bstr);

// "0x80040205": eight upper-case hex digits.
std::string FormatHresult(HRESULT hr);
// Decimal or 0x-prefixed hex, 32 bits; a leading '-' for decimal. Nothing on any trailing garbage.
std::optional<std::int64_t> ParseInteger(const std::string& text);

// Journal field values: backslash escapes for '\\', TAB, CR, LF and every other control character (\xHH);
// `extra` lists more characters to escape as \xHH (the settings cells escape ',' and ';').
std::string JournalEscape(const std::string& utf8, const char* extra = "");
std::string JournalUnescape(const std::string& escaped);

// One journal line: "CALL<TAB>name=value<TAB>name=value..." (no line end), values escaped.
class JournalLine {
public:
    explicit JournalLine(std::string call) : m_text(std::move(call)) {}
    JournalLine& text(const char* name, const std::string& utf8);
    JournalLine& wide(const char* name, const std::wstring& value);
    JournalLine& number(const char* name, long long value);
    JournalLine& hr(HRESULT value);
    // Adds a value that is already in journal form (escaped by the caller).
    JournalLine& raw(const char* name, const std::string& escaped);
    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

struct JournalEntry {
    std::string call;
    std::vector<std::pair<std::string, std::string>> fields;  // unescaped, in line order

    bool has(const std::string& name) const;
    // The value of the first field of that name; empty when missing.
    std::string get(const std::string& name) const;
};

// Parses one line (a trailing CR is ignored). Nothing for an empty line.
std::optional<JournalEntry> ParseJournalLine(const std::string& line);

// A settings value "RxC:cell,cell;cell,cell" split into rows of (type, value) cells, values unescaped.
// Nothing when the text is not of that form ("null", "bad(...)").
struct SettingsCell {
    std::string type;
    std::string value;
    bool operator==(const SettingsCell&) const = default;
};
std::optional<std::vector<std::vector<SettingsCell>>> ParseSettings(const std::string& escaped);

// One argument quoted so that the C runtime's command-line splitting gives it back unchanged.
std::string QuoteArgument(const std::string& argument);

}  // namespace velo
