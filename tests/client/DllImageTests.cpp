// The shipped files as an integrator receives them: the DLL's export and import tables, and the version
// resources of both deliverables.
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

using namespace qxtest;

namespace {

// The DLL mapped as an image without running or resolving anything.
class MappedImage {
public:
    explicit MappedImage(const std::string& path)
        : m_module(LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)) {}
    ~MappedImage() {
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    bool loaded() const { return m_module != nullptr; }

    template <typename T>
    const T* at(DWORD rva) const {
        return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(m_module) + rva);
    }
    const IMAGE_DATA_DIRECTORY& directory(int index) const {
        const auto* dos = at<IMAGE_DOS_HEADER>(0);
        const auto* nt = at<IMAGE_NT_HEADERS>(static_cast<DWORD>(dos->e_lfanew));
        return nt->OptionalHeader.DataDirectory[index];
    }

    std::vector<std::string> exportNames() const {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (entry.VirtualAddress == 0) return names;
        const auto* exports = at<IMAGE_EXPORT_DIRECTORY>(entry.VirtualAddress);
        const auto* nameRvas = at<DWORD>(exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(at<char>(nameRvas[i]));
        return names;
    }

    std::vector<std::string> importedModules() const {
        std::vector<std::string> modules;
        const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (entry.VirtualAddress == 0) return modules;
        for (const auto* import = at<IMAGE_IMPORT_DESCRIPTOR>(entry.VirtualAddress); import->Name != 0; ++import)
            modules.emplace_back(at<char>(import->Name));
        return modules;
    }

private:
    HMODULE m_module;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(ClientDll, ExportsExactlyTheEightUndecoratedNames) {
    MappedImage dll(BinPath("IQXPilotSt.dll"));
    ASSERT_TRUE(dll.loaded());
    std::vector<std::string> names = dll.exportNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AddPilotingModule", "GetSystemLastError", "PilotQuodrix",
                                               "StartDaemon", "StartDaemon_Utf8", "StartQuodrix",
                                               "StartQuodrix_Utf8", "StopDaemon"}));
}

TEST(ClientDll, NeedsOnlySystemLibraries) {
    MappedImage dll(BinPath("IQXPilotSt.dll"));
    ASSERT_TRUE(dll.loaded());
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"};
    std::vector<std::string> modules = dll.importedModules();
    EXPECT_FALSE(modules.empty());
    for (const std::string& module : modules) EXPECT_TRUE(system.count(Lower(module))) << module;
}

std::string VersionString(const std::vector<BYTE>& info, const char* name) {
    std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return {};
    return std::string(value, length > 0 ? length - 1 : 0);
}

TEST(Deliverables, BothCarryAVersionResource) {
    struct Case {
        const char* file;
        const char* description;
        DWORD type;
    };
    const Case cases[] = {{"IQXPilotSt.dll", "QXPilot client library", VFT_DLL},
                          {"QXPilotSt.exe", "QXPilot daemon", VFT_APP}};
    std::string versions[2];
    for (int i = 0; i < 2; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.file);
        std::string path = BinPath(c.file);
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_GT(size, 0u);
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedLength = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedLength));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileType, c.type);
        EXPECT_EQ(VersionString(info, "ProductName"), "QXPilot");
        EXPECT_EQ(VersionString(info, "FileDescription"), c.description);
        EXPECT_EQ(VersionString(info, "OriginalFilename"), c.file);
        versions[i] = VersionString(info, "FileVersion");
        char fromFixed[64];
        std::snprintf(fromFixed, sizeof fromFixed, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                      LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        EXPECT_EQ(versions[i], fromFixed);
    }
    EXPECT_EQ(versions[0], versions[1]) << "the two deliverables ship together";
}

TEST(Deliverables, TheDaemonKeepsItsIconAndManifest) {
    HMODULE daemon = LoadLibraryExA(BinPath("QXPilotSt.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(daemon, nullptr);
    EXPECT_NE(FindResourceA(daemon, MAKEINTRESOURCEA(101), RT_GROUP_ICON), nullptr);
    EXPECT_NE(FindResourceA(daemon, MAKEINTRESOURCEA(1), RT_MANIFEST), nullptr);
    FreeLibrary(daemon);
}

}  // namespace
