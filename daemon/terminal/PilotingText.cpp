#include "daemon/terminal/PilotingText.h"

#include "daemon/piloting/WindowKind.h"

std::wstring PilotingWideText(const std::string& value) {
    std::wstring wide;
    wide.reserve(value.size());
    for (char c : value) {
        if (c == '\0') break;
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::string GroupNameText(const std::wstring& name) {
    std::string text;
    for (wchar_t c : name) {
        if (c == L'\0' || text.size() == kGroupNameMaxChars) break;
        if (static_cast<unsigned>(c) > 0xFF) return {};
        text.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsAllWindowsModule(const WindowKindSet& kinds) {
    return !kinds.empty() && *kinds.begin() == static_cast<std::int32_t>(WindowKind::All);
}

bool SelectsWindowKind(const WindowKindSet& kinds, long kind) {
    if (kind == static_cast<long>(WindowKind::None)) return false;
    return kinds.count(static_cast<std::int32_t>(kind)) != 0;
}

std::vector<std::int32_t> MissingWindowKinds(const WindowKindSet& kinds, const std::set<long>& present) {
    std::vector<std::int32_t> missing;
    if (IsAllWindowsModule(kinds)) return missing;
    for (std::int32_t kind : kinds) {
        if (present.count(kind) == 0) missing.push_back(kind);
    }
    return missing;
}
