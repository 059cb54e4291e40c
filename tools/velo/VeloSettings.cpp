#include "tools/velo/VeloSettings.h"

#include "tools/velo/VeloText.h"

namespace velo {

std::string VarTypeName(VARTYPE type) {
    switch (type) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return "I2";
    case VT_I4: return "I4";
    case VT_R4: return "R4";
    case VT_R8: return "R8";
    case VT_CY: return "CY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "DISPATCH";
    case VT_ERROR: return "ERROR";
    case VT_BOOL: return "BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "UNKNOWN";
    case VT_DECIMAL: return "DECIMAL";
    case VT_I1: return "I1";
    case VT_UI1: return "UI1";
    case VT_UI2: return "UI2";
    case VT_UI4: return "UI4";
    case VT_I8: return "I8";
    case VT_UI8: return "UI8";
    case VT_INT: return "INT";
    case VT_UINT: return "UINT";
    default: return std::to_string(type);
    }
}

std::string EncodeSettingsCell(const VARIANT& cell) {
    std::string value;
    if (V_VT(&cell) == VT_BSTR) {
        value = Utf8FromWide(WideFromBstr(V_BSTR(&cell)));
    } else if (V_VT(&cell) == VT_BOOL) {
        value = std::to_string(V_BOOL(&cell));
    } else if (V_VT(&cell) != VT_EMPTY && V_VT(&cell) != VT_NULL) {
        VARIANT text;
        VariantInit(&text);
        if (SUCCEEDED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&cell), LOCALE_INVARIANT, 0, VT_BSTR)))
            value = Utf8FromWide(WideFromBstr(V_BSTR(&text)));
        else
            value.assign(1, '?');
        VariantClear(&text);
    }
    std::string out = VarTypeName(V_VT(&cell));
    out += ':';
    out += JournalEscape(value, ",;");
    return out;
}

std::string EncodeSettings(SAFEARRAY* array) {
    if (array == nullptr) return "null";
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    UINT dims = SafeArrayGetDim(array);
    if (type != VT_VARIANT || dims != 2) {
        std::string bad = "bad(vt=";
        bad += std::to_string(type);
        bad += ",dims=";
        bad += std::to_string(dims);
        bad += ')';
        return bad;
    }
    LONG rowLow = 0, rowHigh = -1, columnLow = 0, columnHigh = -1;
    SafeArrayGetLBound(array, 1, &rowLow);
    SafeArrayGetUBound(array, 1, &rowHigh);
    SafeArrayGetLBound(array, 2, &columnLow);
    SafeArrayGetUBound(array, 2, &columnHigh);
    std::string out = std::to_string(rowHigh - rowLow + 1);
    out += 'x';
    out += std::to_string(columnHigh - columnLow + 1);
    out += ':';
    for (LONG row = rowLow; row <= rowHigh; ++row) {
        if (row != rowLow) out += ';';
        for (LONG column = columnLow; column <= columnHigh; ++column) {
            if (column != columnLow) out += ',';
            LONG index[2] = {row, column};
            VARIANT cell;
            VariantInit(&cell);
            if (SUCCEEDED(SafeArrayGetElement(array, index, &cell))) out += EncodeSettingsCell(cell);
            else out += "?:";
            VariantClear(&cell);
        }
    }
    return out;
}

}  // namespace velo
