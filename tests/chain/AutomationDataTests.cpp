// OLE automation data of a piloting pass, built and read with the real oleaut32.
#include "daemon/proxy/ComError.h"
#include "daemon/terminal/AutomationData.h"

#include "QuodrixLib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LONG Bound(SAFEARRAY* array, UINT dimension, bool upper) {
    LONG value = -99;
    if (upper) SafeArrayGetUBound(array, dimension, &value);
    else SafeArrayGetLBound(array, dimension, &value);
    return value;
}

TEST(WindowProperties, OneRowOfTwoVariantsIntOneAndBstrPiloted) {
    SafeArray properties = BuildWindowProperties();
    ASSERT_NE(properties.get(), nullptr);
    VARTYPE type = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(properties.get(), &type), S_OK);
    EXPECT_EQ(type, VT_VARIANT);
    ASSERT_EQ(SafeArrayGetDim(properties.get()), 2u);
    EXPECT_EQ(Bound(properties.get(), 1, false), 0);
    EXPECT_EQ(Bound(properties.get(), 1, true), 0);
    EXPECT_EQ(Bound(properties.get(), 2, false), 0);
    EXPECT_EQ(Bound(properties.get(), 2, true), 1);

    Variant first;
    LONG index[2] = {0, 0};
    ASSERT_EQ(SafeArrayGetElement(properties.get(), index, first.get()), S_OK);
    EXPECT_EQ(V_VT(first.get()), VT_INT);
    EXPECT_EQ(V_INT(first.get()), 1);

    Variant second;
    index[1] = 1;
    ASSERT_EQ(SafeArrayGetElement(properties.get(), index, second.get()), S_OK);
    ASSERT_EQ(V_VT(second.get()), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(second.get()), SysStringLen(V_BSTR(second.get()))), L"Piloted");
}

TEST(WindowProperties, EachCallBuildsItsOwnArray) {
    SafeArray a = BuildWindowProperties();
    SafeArray b = BuildWindowProperties();
    EXPECT_NE(a.get(), b.get());
}

// A 2-D list of `type` with `rows` x 3 cells, filled by `fill` (VARIANT lists only).
SafeArray MakeList(VARTYPE type, ULONG rows, const std::vector<std::vector<VARIANT>>& cells = {}) {
    SAFEARRAYBOUND bounds[2] = {{rows, 0}, {3, 0}};
    SafeArray list(SafeArrayCreate(type, 2, bounds));
    for (LONG row = 0; row < static_cast<LONG>(cells.size()); ++row) {
        for (LONG column = 0; column < static_cast<LONG>(cells[row].size()); ++column) {
            LONG index[2] = {row, column};
            SafeArrayPutElement(list.get(), index, const_cast<VARIANT*>(&cells[row][column]));
        }
    }
    return list;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT Text(const std::wstring& text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

VARIANT Number(LONG number) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = number;
    return v;
}

// A cell of `type` with no value of its own (VT_BOOL: false).
VARIANT Typed(VARTYPE type) {
    VARIANT cell;
    VariantInit(&cell);
    V_VT(&cell) = type;
    if (type == VT_BOOL) V_BOOL(&cell) = VARIANT_FALSE;
    return cell;
}

HRESULT ListError(const SafeArray& list) {
    try {
        CheckTerminalList(list, IID_IGroups);
    } catch (const ComError& error) {
        EXPECT_TRUE(IsEqualIID(error.iid(), IID_IGroups));
        return error.hr();
    }
    return S_OK;
}

TEST(TerminalList, OnlyAnArrayOfVariantsIsAccepted) {
    EXPECT_EQ(ListError(SafeArray()), E_POINTER);
    EXPECT_EQ(ListError(MakeList(VT_BSTR, 1)), DISP_E_BADVARTYPE);
    EXPECT_EQ(ListError(MakeList(VT_I4, 1)), DISP_E_BADVARTYPE);
    EXPECT_EQ(ListError(MakeList(VT_VARIANT, 0)), S_OK);
    EXPECT_EQ(ListError(MakeList(VT_VARIANT, 2)), S_OK);
}

struct CellCase {
    LONG row;
    LONG column;
    HRESULT hr;
    std::wstring text;
};

TEST(TerminalList, CellsAreReadAsTextsWithinTheList) {
    std::vector<std::vector<VARIANT>> cells = {
        {Text(L"Trader"), Number(2), Text(L"G1")},
        {Text(std::wstring(L"AB\0CD", 5)), Number(0), Number(7)},
        {Typed(VT_EMPTY), Typed(VT_NULL), Typed(VT_BOOL)},
    };
    SafeArray list = MakeList(VT_VARIANT, 3, cells);
    for (auto& row : cells)
        for (auto& cell : row) VariantClear(&cell);
    ASSERT_EQ(ListError(list), S_OK);

    const CellCase cases[] = {
        {0, 0, S_OK, L"Trader"},
        {0, 2, S_OK, L"G1"},
        {1, 0, S_OK, L"AB"},
        // A number where a text is expected is never read as a pointer.
        {0, 1, DISP_E_TYPEMISMATCH, L""},
        {1, 2, DISP_E_TYPEMISMATCH, L""},
        // A cell holding nothing reads as the empty text, as its BSTR member would; any other type does not.
        {2, 0, S_OK, L""},
        {2, 1, S_OK, L""},
        {2, 2, DISP_E_TYPEMISMATCH, L""},
        // Rows counted past the list's end.
        {3, 0, DISP_E_BADINDEX, L""},
        {-1, 0, DISP_E_BADINDEX, L""},
    };
    for (const CellCase& c : cases) {
        Variant cell;
        HRESULT hr = S_OK;
        try {
            ReadListCell(list, c.row, c.column, IID_IWindows, cell);
        } catch (const ComError& error) {
            hr = error.hr();
            EXPECT_TRUE(IsEqualIID(error.iid(), IID_IWindows));
        }
        EXPECT_EQ(hr, c.hr) << c.row << "," << c.column;
        if (hr == S_OK) {
            EXPECT_EQ(CellText(cell), c.text);
        }
    }
}

TEST(TerminalList, NullTextCellReadsAsEmpty) {
    std::vector<std::vector<VARIANT>> cells = {{Text(nullptr)}};
    V_BSTR(&cells[0][0]) = nullptr;
    SafeArray list = MakeList(VT_VARIANT, 1, cells);
    Variant cell;
    ReadListCell(list, 0, 0, IID_IGroups, cell);
    EXPECT_EQ(CellText(cell), L"");
}

struct AnsiCase {
    std::string text;
    std::wstring wide;
};

TEST(Bstr, AnsiTextsThroughTheCodePageAndWideTextsWhole) {
    const AnsiCase cases[] = {
        {"", L""},
        {"Trader", L"Trader"},
        {std::string(400, 'm'), std::wstring(400, L'm')},
    };
    for (const AnsiCase& c : cases) {
        ComHelper::Bstr text = BstrFromAnsi(c.text, IID_IGroups);
        ASSERT_NE(text.get(), nullptr);
        EXPECT_EQ(std::wstring(text.get(), SysStringLen(text.get())), c.wide);
    }
    ComHelper::Bstr wide = BstrFromWide(std::wstring(L"A\0B", 3), IID_IWindow);
    EXPECT_EQ(SysStringLen(wide.get()), 3u);
}

}  // namespace
