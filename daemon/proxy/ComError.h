// COM failures as exceptions, and the text they are logged with.
#pragma once

#include "daemon/proxy/ComPtr.h"
#include "daemon/proxy/ProxyProgress.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <string>

// Text of a failing HRESULT for the log: the system's message, else a fallback.
std::string ComErrorText(HRESULT hr);

// The pure parts of ComErrorText, given what the system said (nothing when it has no message).
std::string ComErrorTextFrom(HRESULT hr, const std::optional<std::string>& systemMessage);
// Removes one final line feed, and a carriage return before it.
std::string TrimMessageEnd(std::string text);
// "IDispatch error #n" for 0x80040201..0x8004FFFF, else "Unknown error 0x...", at most 31 characters.
std::string ComErrorFallbackText(HRESULT hr);

// A failed COM call (or a null interface returned with success): the HRESULT and the called interface.
class ComError : public std::exception {
public:
    // `object`, when given, is asked for its rich error information on `iid`.
    ComError(HRESULT hr, const IID& iid, IUnknown* object = nullptr);

    HRESULT hr() const noexcept { return m_hr; }
    const IID& iid() const noexcept { return m_iid; }
    // The log text of hr().
    const std::string& text() const noexcept { return m_text; }
    // Rich error information of the failing object; empty when it gave none.
    const std::wstring& description() const noexcept { return m_description; }
    const std::wstring& source() const noexcept { return m_source; }
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    HRESULT m_hr;
    IID m_iid;
    std::string m_text;
    std::wstring m_description;
    std::wstring m_source;
};

// Raises a ComError for a failed call made on `object` through the interface `iid`. Every terminal call's result
// passes here, so this is also where a returned call counts as the proxy thread's progress.
inline void CheckCom(HRESULT hr, const IID& iid, IUnknown* object = nullptr) {
    NoteProxyProgress();
    if (FAILED(hr)) throw ComError(hr, iid, object);
}

// The same, and a successful call that returned no interface counts as E_POINTER.
template <class T>
void CheckComResult(HRESULT hr, const ComHelper::ComPtr<T>& result, const IID& iid, IUnknown* object = nullptr) {
    CheckCom(hr, iid, object);
    if (!result) throw ComError(E_POINTER, iid);
}
