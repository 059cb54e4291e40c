#include "daemon/piloting/WindowKind.h"

#include <cstring>

namespace {

bool EqualsIgnoringAsciiCase(const char* a, const char* b) noexcept {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

}  // namespace

WindowKind WindowKindFromName(const char* name) noexcept {
    static constexpr struct {
        const char* name;
        WindowKind kind;
    } kNames[] = {
        {"All", WindowKind::All},             {"Vista", WindowKind::Vista},
        {"FullQuote", WindowKind::FullQuote}, {"OrderBook", WindowKind::OrderBook},
        {"TimeSales", WindowKind::TimeSales}, {"News", WindowKind::News},
        {"Chart", WindowKind::Chart},
    };
    if (name == nullptr) return WindowKind::None;
    for (const auto& entry : kNames) {
        if (EqualsIgnoringAsciiCase(name, entry.name)) return entry.kind;
    }
    return WindowKind::None;
}
