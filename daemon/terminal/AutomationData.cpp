#include "daemon/terminal/AutomationData.h"

#include "daemon/proxy/ComError.h"

#include "QuodrixLib.h"

#include <cwchar>

using ComHelper::Bstr;

Bstr BstrFromWide(const std::wstring& text, const IID& iid) {
    Bstr result = Bstr::adopt(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result.get()) throw ComError(E_OUTOFMEMORY, iid);
    return result;
}

Bstr BstrFromAnsi(const std::string& text, const IID& iid) {
    std::wstring wide;
    if (!text.empty()) {
        const int size = static_cast<int>(text.size());
        const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
        if (length > 0) {
            wide.resize(static_cast<std::size_t>(length));
            MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
        }
    }
    return BstrFromWide(wide, iid);
}

SafeArray BuildWindowProperties() {
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    SafeArray properties(SafeArrayCreate(VT_VARIANT, 2, bounds));
    if (!properties.get()) throw ComError(E_OUTOFMEMORY, IID_IWindows);

    Variant piloted;
    V_VT(piloted.get()) = VT_INT;
    V_INT(piloted.get()) = 1;
    LONG first[2] = {0, 0};
    CheckCom(SafeArrayPutElement(properties.get(), first, piloted.get()), IID_IWindows);

    Variant name;
    Bstr text = BstrFromAnsi("Piloted", IID_IWindows);
    V_VT(name.get()) = VT_BSTR;
    V_BSTR(name.get()) = text.get();
    LONG second[2] = {0, 1};
    const HRESULT hr = SafeArrayPutElement(properties.get(), second, name.get());
    // The array took its own copy; the text stays with its owner.
    V_VT(name.get()) = VT_EMPTY;
    CheckCom(hr, IID_IWindows);
    return properties;
}

void CheckTerminalList(const SafeArray& list, const IID& iid) {
    if (!list.get()) throw ComError(E_POINTER, iid);
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(list.get(), &type)) || type != VT_VARIANT) throw ComError(DISP_E_BADVARTYPE, iid);
}

void ReadListCell(const SafeArray& list, long row, long column, const IID& iid, Variant& cell) {
    VariantClear(cell.get());
    LONG index[2] = {row, column};
    CheckCom(SafeArrayGetElement(list.get(), index, cell.get()), iid);
    // A cell that holds nothing reads as what its BSTR member then holds, a null BSTR: the empty text.
    if (V_VT(cell.get()) == VT_EMPTY || V_VT(cell.get()) == VT_NULL) {
        V_VT(cell.get()) = VT_BSTR;
        V_BSTR(cell.get()) = nullptr;
    }
    // Anything else but a text would be read as a pointer.
    if (V_VT(cell.get()) != VT_BSTR) throw ComError(DISP_E_TYPEMISMATCH, iid);
}

std::wstring CellText(const Variant& cell) {
    const BSTR text = V_BSTR(cell.get());
    if (!text) return {};
    return std::wstring(text, std::wcslen(text));
}
