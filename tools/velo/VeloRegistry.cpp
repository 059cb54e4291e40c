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
    // `view`: 0 for this process's own registry view, KEY_WOW64_32KEY for the one 32-bit processes see.
    LSTATUS create(HKEY parent, const std::wstring& path, REGSAM view = 0) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &m_key, nullptr);
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

// `flags`: RRF_SUBKEY_WOW6432KEY reads the view of 32-bit processes.
std::wstring ReadDefault(HKEY root, const std::wstring& path, DWORD flags = 0) {
    wchar_t value[2048] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ | flags, nullptr, value, &size) != ERROR_SUCCESS)
        return {};
    return value;
}

// The class keys under `root` (a Software\Classes key). `marked` adds the value that says this simulator
// wrote them, so that /UnregServer never removes a machine-wide registration it did not make.
HRESULT WriteClassKeys(HKEY root, const std::wstring& classes, const std::wstring& command, bool marked,
                       REGSAM view = 0) {
    std::wstring base = classes + L"CLSID\\" + GuidText(CLSID_Application);
    RegKey classKey;
    if (LSTATUS s = classKey.create(root, base, view)) return FromStatus(s);
    classKey.setDefault(L"Quodrix Application (Velo simulator)");
    if (marked) classKey.set(L"VeloSimulator", L"1");
    RegKey server;
    if (LSTATUS s = server.create(root, base + L"\\LocalServer32", view)) return FromStatus(s);
    if (LSTATUS s = server.setDefault(command)) return FromStatus(s);
    RegKey typeLib;
    if (LSTATUS s = typeLib.create(root, base + L"\\TypeLib", view)) return FromStatus(s);
    typeLib.setDefault(GuidText(LIBID_QuodrixLib));
    RegKey version;
    if (LSTATUS s = version.create(root, base + L"\\Version", view)) return FromStatus(s);
    version.setDefault(L"1.0");
    return S_OK;
}

// The interfaces of the type library that cross processes, with the proxy/stub class that marshals each:
// the type-library marshaler for [oleautomation] and dual interfaces, the dispatch one for dispinterfaces.
struct MarshalledInterface {
    IID iid;
    std::wstring name;
    const wchar_t* proxyStub;
};

std::vector<MarshalledInterface> MarshalledInterfaces(ITypeLib* lib) {
    std::vector<MarshalledInterface> interfaces;
    for (UINT i = 0, count = lib->GetTypeInfoCount(); i < count; ++i) {
        TYPEKIND kind{};
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH)) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            bool automation = (attributes->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) != 0;
            if (automation || kind == TKIND_DISPATCH) {
                BSTR name = nullptr;
                lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
                interfaces.push_back({attributes->guid, name ? name : L"",
                                      automation ? L"{00020424-0000-0000-C000-000000000046}"
                                                 : L"{00020420-0000-0000-C000-000000000046}"});
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
    }
    return interfaces;
}

std::wstring TypeLibKeyPath() { return L"TypeLib\\" + GuidText(LIBID_QuodrixLib) + L"\\1.0"; }

// What a 32-bit process needs to reach the 64-bit server: the type library's win32 entry and the interface
// keys in the registry view that 32-bit processes read. Without them a 32-bit client creates the object but
// its first QueryInterface for a terminal interface fails (E_NOINTERFACE): it finds no marshalling.
HRESULT Write32BitTypeLibKeys(HKEY root, const std::wstring& classes, ITypeLib* lib, const std::wstring& path) {
    constexpr REGSAM kView = KEY_WOW64_32KEY;
    RegKey version;
    if (LSTATUS s = version.create(root, classes + TypeLibKeyPath(), kView)) return FromStatus(s);
    BSTR doc = nullptr;
    lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr);
    version.setDefault(doc ? doc : L"QuodrixLib");
    SysFreeString(doc);
    RegKey flags;
    if (LSTATUS s = flags.create(root, classes + TypeLibKeyPath() + L"\\FLAGS", kView)) return FromStatus(s);
    flags.setDefault(L"0");
    RegKey win32;
    if (LSTATUS s = win32.create(root, classes + TypeLibKeyPath() + L"\\0\\win32", kView)) return FromStatus(s);
    if (LSTATUS s = win32.setDefault(path)) return FromStatus(s);
    for (const MarshalledInterface& entry : MarshalledInterfaces(lib)) {
        std::wstring base = classes + L"Interface\\" + GuidText(entry.iid);
        RegKey key;
        if (LSTATUS s = key.create(root, base, kView)) return FromStatus(s);
        key.setDefault(entry.name);
        for (const wchar_t* proxyKey : {L"\\ProxyStubClsid", L"\\ProxyStubClsid32"}) {
            RegKey proxy;
            if (LSTATUS s = proxy.create(root, base + proxyKey, kView)) return FromStatus(s);
            proxy.setDefault(entry.proxyStub);
        }
        RegKey typeLib;
        if (LSTATUS s = typeLib.create(root, base + L"\\TypeLib", kView)) return FromStatus(s);
        typeLib.setDefault(GuidText(LIBID_QuodrixLib));
        typeLib.set(L"Version", L"1.0");
    }
    return S_OK;
}

// Removes the 32-bit view's type library entry and the interface keys that name our type library.
void Delete32BitTypeLibKeys(HKEY root, const std::wstring& classes, ITypeLib* lib) {
    constexpr REGSAM kView = KEY_WOW64_32KEY;
    if (lib != nullptr) {
        for (const MarshalledInterface& entry : MarshalledInterfaces(lib)) {
            std::wstring base = classes + L"Interface\\" + GuidText(entry.iid);
            wchar_t owner[64] = {};
            DWORD size = sizeof owner - sizeof(wchar_t);
            HKEY key = nullptr;
            if (RegOpenKeyExW(root, (base + L"\\TypeLib").c_str(), 0, KEY_READ | kView, &key) != ERROR_SUCCESS)
                continue;
            LSTATUS read = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(owner), &size);
            RegCloseKey(key);
            if (read != ERROR_SUCCESS || GuidText(LIBID_QuodrixLib) != owner) continue;
            for (const wchar_t* sub : {L"\\TypeLib", L"\\ProxyStubClsid", L"\\ProxyStubClsid32", L""})
                RegDeleteKeyExW(root, (base + sub).c_str(), kView, 0);
        }
    }
    std::wstring version = classes + TypeLibKeyPath();
    RegDeleteKeyExW(root, (version + L"\\0\\win32").c_str(), kView, 0);
    // The version key goes only when no other platform's entry is left in it.
    HKEY lcid = nullptr;
    DWORD subkeys = 1;
    if (RegOpenKeyExW(root, (version + L"\\0").c_str(), 0, KEY_READ | kView, &lcid) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(lcid, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(lcid);
    } else {
        subkeys = 0;
    }
    if (subkeys == 0) {
        RegDeleteKeyExW(root, (version + L"\\0").c_str(), kView, 0);
        RegDeleteKeyExW(root, (version + L"\\FLAGS").c_str(), kView, 0);
        RegDeleteKeyExW(root, version.c_str(), kView, 0);
    }
}

const std::wstring kClasses = L"Software\\Classes\\";

// RegDeleteTreeW in one registry view.
LSTATUS DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key);
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(root, path.c_str(), view, 0);
    return status;
}

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
    bool machineCopy = ReadDefault(HKEY_CLASSES_ROOT, ServerKeyPath()) != command;
    if (machineCopy) hr = WriteClassKeys(HKEY_LOCAL_MACHINE, kClasses, command, true);
    if (FAILED(hr)) return hr;

    // 32-bit clients (an x86 daemon) read their own registry view: the class and the type library's win32
    // entry with its interfaces there too, in the same places.
    hr = WriteClassKeys(HKEY_CURRENT_USER, kClasses, command, false, KEY_WOW64_32KEY);
    if (SUCCEEDED(hr)) hr = Write32BitTypeLibKeys(HKEY_CURRENT_USER, kClasses, lib.get(), path);
    if (SUCCEEDED(hr) && machineCopy) hr = WriteClassKeys(HKEY_LOCAL_MACHINE, kClasses, command, true, KEY_WOW64_32KEY);
    if (SUCCEEDED(hr) && ReadDefault(HKEY_CLASSES_ROOT, TypeLibKeyPath() + L"\\0\\win32", RRF_SUBKEY_WOW6432KEY) != path)
        hr = Write32BitTypeLibKeys(HKEY_LOCAL_MACHINE, kClasses, lib.get(), path);
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
    // The 32-bit view's entries, found through the type library of this program when it still loads.
    TypeLibRef lib;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    LoadTypeLibEx(self, REGKIND_NONE, lib.put());  // null on failure: then only the type library entry goes
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) Delete32BitTypeLibKeys(root, kClasses, lib.get());

    std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Application);
    std::wstring machineKey = kClasses + classKey;
    for (REGSAM view : {REGSAM{0}, REGSAM{KEY_WOW64_32KEY}}) {
        LSTATUS status = DeleteTree(HKEY_CURRENT_USER, kClasses + classKey, view);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
        wchar_t marker[8] = {};
        DWORD size = sizeof marker;
        DWORD flags = RRF_RT_REG_SZ | (view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY : 0);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, machineKey.c_str(), L"VeloSimulator", flags, nullptr, marker, &size) ==
            ERROR_SUCCESS) {
            status = DeleteTree(HKEY_LOCAL_MACHINE, machineKey, view);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
        }
    }
    return hr;
}

}  // namespace velo
