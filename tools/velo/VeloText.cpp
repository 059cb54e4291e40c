#include "tools/velo/VeloText.h"

#include <cstdio>
#include <cstring>

namespace velo {

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::wstring WideFromBstr(const wchar_t* bstr) {
    if (bstr == nullptr) return {};
    return std::wstring(bstr, SysStringLen(const_cast<BSTR>(bstr)));
}

std::string FormatHresult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    } else if (text[0] == '-') {
        negative = true;
        i = 1;
    }
    if (i >= text.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 10 && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

std::string JournalEscape(const std::string& utf8, const char* extra) {
    std::string out;
    out.reserve(utf8.size());
    for (unsigned char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; continue;
        case '\t': out += "\\t"; continue;
        case '\r': out += "\\r"; continue;
        case '\n': out += "\\n"; continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7F || (c != 0 && std::strchr(extra, c) != nullptr)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string JournalUnescape(const std::string& escaped) {
    std::string out;
    out.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c != '\\' || i + 1 >= escaped.size()) {
            out += c;
            continue;
        }
        char next = escaped[++i];
        switch (next) {
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 'x':
            if (i + 2 < escaped.size() && HexValue(escaped[i + 1]) >= 0 && HexValue(escaped[i + 2]) >= 0) {
                out += static_cast<char>(HexValue(escaped[i + 1]) * 16 + HexValue(escaped[i + 2]));
                i += 2;
            } else {
                out += 'x';
            }
            break;
        default: out += next; break;
        }
    }
    return out;
}

JournalLine& JournalLine::text(const char* name, const std::string& utf8) { return raw(name, JournalEscape(utf8)); }

JournalLine& JournalLine::wide(const char* name, const std::wstring& value) {
    return raw(name, JournalEscape(Utf8FromWide(value)));
}

JournalLine& JournalLine::number(const char* name, long long value) { return raw(name, std::to_string(value)); }

JournalLine& JournalLine::hr(HRESULT value) { return raw("hr", FormatHresult(value)); }

JournalLine& JournalLine::raw(const char* name, const std::string& escaped) {
    m_text += '\t';
    m_text += name;
    m_text += '=';
    m_text += escaped;
    return *this;
}

bool JournalEntry::has(const std::string& name) const {
    for (const auto& field : fields)
        if (field.first == name) return true;
    return false;
}

std::string JournalEntry::get(const std::string& name) const {
    for (const auto& field : fields)
        if (field.first == name) return field.second;
    return {};
}

namespace {

std::vector<std::string> SplitUnescaped(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text[i];
            parts.back() += text[++i];
        } else if (text[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

}  // namespace

std::optional<JournalEntry> ParseJournalLine(const std::string& line) {
    std::string text = line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) return std::nullopt;
    auto parts = SplitUnescaped(text, '\t');
    JournalEntry entry;
    entry.call = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) {
        auto equals = parts[i].find('=');
        if (equals == std::string::npos) entry.fields.emplace_back(JournalUnescape(parts[i]), std::string());
        else entry.fields.emplace_back(parts[i].substr(0, equals), JournalUnescape(parts[i].substr(equals + 1)));
    }
    return entry;
}

std::optional<std::vector<std::vector<SettingsCell>>> ParseSettings(const std::string& escaped) {
    auto colon = escaped.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string dims = escaped.substr(0, colon);
    auto x = dims.find('x');
    if (x == std::string::npos) return std::nullopt;
    auto rows = ParseInteger(dims.substr(0, x));
    auto columns = ParseInteger(dims.substr(x + 1));
    if (!rows || !columns || *rows < 0 || *columns < 0) return std::nullopt;
    std::vector<std::vector<SettingsCell>> result;
    std::string body = escaped.substr(colon + 1);
    if (*rows == 0 || *columns == 0) return body.empty() ? std::optional(result) : std::nullopt;
    for (const auto& rowText : SplitUnescaped(body, ';')) {
        std::vector<SettingsCell> row;
        for (const auto& cellText : SplitUnescaped(rowText, ',')) {
            auto sep = cellText.find(':');
            if (sep == std::string::npos) return std::nullopt;
            row.push_back({cellText.substr(0, sep), JournalUnescape(cellText.substr(sep + 1))});
        }
        if (static_cast<std::int64_t>(row.size()) != *columns) return std::nullopt;
        result.push_back(std::move(row));
    }
    if (static_cast<std::int64_t>(result.size()) != *rows) return std::nullopt;
    return result;
}

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace velo
