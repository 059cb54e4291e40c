// The journal form of the settings array that IWindows::Add receives.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace velo {

// "INT", "BSTR", ... for a VARIANT type; the number for others.
std::string VarTypeName(VARTYPE type);
// "TYPE:VALUE" with the value escaped for a settings cell.
std::string EncodeSettingsCell(const VARIANT& cell);
// "RxC:cell,...;cell,..." for a 2-D array of VARIANT (rows over the first dimension), "null" for no array,
// "bad(vt=N,dims=D)" for any other array.
std::string EncodeSettings(SAFEARRAY* array);

}  // namespace velo
