#include "tools/velo/VeloRegistry.h"

#include "tools/velo/VeloText.h"

#include "QuodrixLib.h"

#include <oleauto.h>

// In oleaut32 since Windows Vista; MinGW's import library has them, its oleauto.h does not declare them.
extern "C" {
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID lib, WORD major, WORD minor, LCID lcid, SYSKIND kind);
}

namespace velo {

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key) RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    LSTATUS create(HKEY parent, const std::wstring& path) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &m_key, nullptr);
    }
    LSTATUS setDefault(const std::wstring& value) { return set(nullptr, value); }
    LSTATUS set(const wchar_t* name, const std::wstring& value) {
        return RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY m_key = nullptr;
};

class TypeLibRef {
public:
    ~TypeLibRef() {
        if (m_lib) m_lib->Release();
    }
    ITypeLib** put() { return &m_lib; }
    ITypeLib* get() const { return m_lib; }

private:
    ITypeLib* m_lib = nullptr;
};

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

std::wstring ReadDefault(HKEY root, const std::wstring& path) {
    wchar_t value[2048] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
    return value;
}

// The class keys under `root` (a Software\Classes key). `marked` adds the value that says this simulator
// wrote them, so that /UnregServer never removes a machine-wide registration it did not make.
HRESULT WriteClassKeys(HKEY root, const std::wstring& classes, const std::wstring& command, bool marked) {
    std::wstring base = classes + L"CLSID\\" + GuidText(CLSID_Application);
    RegKey classKey;
    if (LSTATUS s = classKey.create(root, base)) return FromStatus(s);
    classKey.setDefault(L"Quodrix Application (Velo simulator)");
    if (marked) classKey.set(L"VeloSimulator", L"1");
    RegKey server;
    if (LSTATUS s = server.create(root, base + L"\\LocalServer32")) return FromStatus(s);
    if (LSTATUS s = server.setDefault(command)) return FromStatus(s);
    RegKey typeLib;
    if (LSTATUS s = typeLib.create(root, base + L"\\TypeLib")) return FromStatus(s);
    typeLib.setDefault(GuidText(LIBID_QuodrixLib));
    RegKey version;
    if (LSTATUS s = version.create(root, base + L"\\Version")) return FromStatus(s);
    version.setDefault(L"1.0");
    return S_OK;
}

const std::wstring kClasses = L"Software\\Classes\\";

std::wstring ServerKeyPath() { return L"CLSID\\" + GuidText(CLSID_Application) + L"\\LocalServer32"; }

}  // namespace

std::string ServerCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line = "\"";
    line += program;
    line += '"';
    for (const auto& argument : arguments) {
        line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

HRESULT RegisterServer(const std::string& program, const std::vector<std::string>& arguments) {
    std::wstring path = WideFromUtf8(program);
    // The type library is a resource of the program itself; registering it routes every [oleautomation]
    // interface through the type-library marshaler.
    TypeLibRef lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLibForUser(lib.get(), const_cast<wchar_t*>(path.c_str()), nullptr);
    if (FAILED(hr)) return hr;

    std::wstring command = WideFromUtf8(ServerCommandLine(program, arguments));
    hr = WriteClassKeys(HKEY_CURRENT_USER, kClasses, command, false);
    if (FAILED(hr)) return hr;
    // Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine's COM reads the machine's only.
    // When the merged view does not show our server, register a marked machine copy as well.
    if (ReadDefault(HKEY_CLASSES_ROOT, ServerKeyPath()) != command)
        hr = WriteClassKeys(HKEY_LOCAL_MACHINE, kClasses, command, true);
    return hr;
}

HRESULT UnregisterServer() {
    // Removing what is not registered is not a failure.
    HRESULT hr = S_OK;
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_QuodrixLib, 1, 0, LOCALE_NEUTRAL, &registeredPath))) {
        SysFreeString(registeredPath);
        hr = UnRegisterTypeLibForUser(LIBID_QuodrixLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
        if (FAILED(hr)) return hr;
    }
    std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Application);
    LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, (kClasses + classKey).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
    std::wstring machineKey = kClasses + classKey;
    wchar_t marker[8] = {};
    DWORD size = sizeof marker;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, machineKey.c_str(), L"VeloSimulator", RRF_RT_REG_SZ, nullptr, marker, &size) ==
        ERROR_SUCCESS) {
        status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, machineKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
    }
    return hr;
}

}  // namespace velo
