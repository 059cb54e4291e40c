// OLE automation data of a piloting pass: owners for SAFEARRAYs, VARIANTs and BSTRs, the window properties
// array, and the reading of the terminal's lists.
#pragma once

#include "daemon/proxy/ComPtr.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

// An owned SAFEARRAY, destroyed with its content.
class SafeArray {
public:
    SafeArray() noexcept = default;
    explicit SafeArray(SAFEARRAY* array) noexcept : m_array(array) {}
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    SafeArray(SafeArray&& other) noexcept : m_array(std::exchange(other.m_array, nullptr)) {}
    SafeArray& operator=(SafeArray&& other) noexcept {
        if (this != &other) {
            reset();
            m_array = std::exchange(other.m_array, nullptr);
        }
        return *this;
    }
    ~SafeArray() { reset(); }

    void reset() noexcept {
        if (SAFEARRAY* old = std::exchange(m_array, nullptr)) SafeArrayDestroy(old);
    }
    SAFEARRAY* get() const noexcept { return m_array; }
    // Out parameter of a call that returns a new array.
    SAFEARRAY** put() noexcept {
        reset();
        return &m_array;
    }

private:
    SAFEARRAY* m_array = nullptr;
};

// An owned VARIANT, cleared on destruction.
class Variant {
public:
    Variant() noexcept { VariantInit(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&m_value); }

    VARIANT* get() noexcept { return &m_value; }
    const VARIANT* get() const noexcept { return &m_value; }

private:
    VARIANT m_value;
};

// Text of the ANSI code page as a BSTR; a failed allocation is the COM error E_OUTOFMEMORY of `iid`.
ComHelper::Bstr BstrFromAnsi(const std::string& text, const IID& iid);
// A BSTR holding `text` whole; a failed allocation is the COM error E_OUTOFMEMORY of `iid`.
ComHelper::Bstr BstrFromWide(const std::wstring& text, const IID& iid);

// The properties array given to IWindows::Add for every window created: 1 x 2 VARIANTs,
// (0, 0) = VT_INT 1 and (0, 1) = VT_BSTR "Piloted". Failures are COM errors of IWindows.
SafeArray BuildWindowProperties();

// A list returned by a terminal collection (`iid`), checked before use: a null list is the COM error
// E_POINTER and a list whose elements are not VARIANTs DISP_E_BADVARTYPE.
void CheckTerminalList(const SafeArray& list, const IID& iid);

// The cell (row, column) of a checked list, which must hold a BSTR; a cell holding VT_EMPTY or VT_NULL reads as
// a null BSTR (the empty text). Any other type is the COM error DISP_E_TYPEMISMATCH and an index outside the
// list the error SafeArrayGetElement gives, both of `iid`. The returned cell owns its text.
void ReadListCell(const SafeArray& list, long row, long column, const IID& iid, Variant& cell);

// The text of a BSTR cell up to its first NUL (a null BSTR reads as empty).
std::wstring CellText(const Variant& cell);
