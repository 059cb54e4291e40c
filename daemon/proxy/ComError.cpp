#include "daemon/proxy/ComError.h"

#include <oleauto.h>

#include <cstdio>

namespace {

// A buffer FormatMessage allocated.
class LocalText {
public:
    LocalText() = default;
    LocalText(const LocalText&) = delete;
    LocalText& operator=(const LocalText&) = delete;
    ~LocalText() {
        if (m_text) LocalFree(m_text);
    }
    char** put() { return &m_text; }
    const char* get() const { return m_text; }

private:
    char* m_text = nullptr;
};

std::optional<std::string> SystemMessage(HRESULT hr) {
    LocalText text;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(text.put()), 0, nullptr);
    if (length == 0 || !text.get()) return std::nullopt;
    return std::string(text.get(), length);
}

std::wstring TakeBstr(ComHelper::Bstr& text) {
    return text.get() ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

}  // namespace

std::string TrimMessageEnd(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
}

std::string ComErrorFallbackText(HRESULT hr) {
    // 32 bytes with the terminator: the texts are cut to 31 characters.
    char text[32];
    const auto code = static_cast<unsigned long>(hr);
    if (code >= 0x80040201UL && code <= 0x8004FFFFUL)
        std::snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(code - 0x80040200UL));
    else
        std::snprintf(text, sizeof text, "Unknown error 0x%0lX", code);
    return text;
}

std::string ComErrorTextFrom(HRESULT hr, const std::optional<std::string>& systemMessage) {
    if (systemMessage) return TrimMessageEnd(*systemMessage);
    return ComErrorFallbackText(hr);
}

std::string ComErrorText(HRESULT hr) { return ComErrorTextFrom(hr, SystemMessage(hr)); }

ComError::ComError(HRESULT hr, const IID& iid, IUnknown* object) : m_hr(hr), m_iid(iid), m_text(ComErrorText(hr)) {
    if (!object) return;
    // Taken at once: any later call on this thread may replace the thread's error object.
    ComHelper::ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.putVoid())) || !support) return;
    if (support->InterfaceSupportsErrorInfo(iid) != S_OK) return;
    ComHelper::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return;
    ComHelper::Bstr text;
    if (SUCCEEDED(info->GetDescription(text.put()))) m_description = TakeBstr(text);
    if (SUCCEEDED(info->GetSource(text.put()))) m_source = TakeBstr(text);
}
