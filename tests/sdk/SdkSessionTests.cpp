// The x64 halves of the two-architecture tests: the table of calls through the shipped import library, the
// convention check, and one whole qxpilot session against the simulator.
#include "tests/client/WireBytes.h"
#include "tests/sdk/SdkSupport.h"
#include "tests/support/Simulator.h"

#include "QuodrixLib.h"

#include <gtest/gtest.h>

#include <optional>

using namespace qxtest;

namespace {

class SdkTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }
};

TEST_F(SdkTest, TheTableOfCallsPutsTenRecordsOnTheWireThroughTheImportLibrary) {
    RecordedRun x64 = RecordCallsProgram(ArchPath("x64", "qxsdk_calls.exe"));
    ASSERT_TRUE(x64.run.finished);
    ASSERT_EQ(x64.run.exitCode, 0u) << x64.run.output;
    ASSERT_EQ(x64.requests.size(), 10u) << x64.run.output;
    const std::pair<ULONG_PTR, DWORD> shapes[] = {{1, 324}, {1, 324}, {1, 324}, {1, 324}, {2, 64},
                                                  {2, 64},  {3, 124}, {3, 124}, {3, 124}, {4, 0}};
    for (std::size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(x64.requests[i].code, shapes[i].first);
        EXPECT_EQ(x64.requests[i].size, shapes[i].second);
    }
    // The first pilot record, field by field.
    EXPECT_TRUE(SameRequest(x64.requests[6], 3,
                            WireBytes(wire::kPilotSize)
                                .int32(0, 25).int32(4, 7).int32(8, 1).int32(12, 99)
                                .text(16, 33, "ABC").text(49, 11, "EXTRA").text(60, 6, "GRP").text(66, 13, "XS0000000017")
                                .text(79, 4, "EUR").text(83, 6, "CC1").text(89, 33, "UNDER")
                                .bytes()));
    EXPECT_NE(x64.run.output.find("last error 0"), std::string::npos) << x64.run.output;
}

TEST_F(SdkTest, EveryExportResolvesUndecoratedAndKeepsTheStackPointer) {
    ExpectEveryCallKeepsTheStackPointer("x64");
}

TEST_F(SdkTest, TheX64QxpilotDrivesTheX64DaemonThroughASession) {
    RunMixedSession(ArchPath("x64", "qxpilot.exe"), ArchPath("x64", "QXPilotSt.exe"));
}

std::string GuidText(REFGUID guid) {
    wchar_t wide[64] = {};
    StringFromGUID2(guid, wide, 64);
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// A value of HKEY_CLASSES_ROOT as the processes of one bitness see it; nothing when absent.
std::optional<std::string> ClassesValue(const std::string& path, DWORD view) {
    char value[2048] = {};
    DWORD size = sizeof value - 1;
    if (RegGetValueA(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ | view, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return std::string(value);
}

bool EndsWith(const std::optional<std::string>& text, const std::string& tail) {
    return text && text->size() >= tail.size() && text->compare(text->size() - tail.size(), tail.size(), tail) == 0;
}

// A 32-bit daemon reaches the 64-bit simulator only when the class, the type library and the marshalling of
// its interfaces are in the registry view of 32-bit processes as well.
TEST_F(SdkTest, TheSimulatorRegistersForBothRegistryViewsAndUnregistersFromBoth) {
    StopTerminals();
    const std::string server = "CLSID\\" + GuidText(CLSID_Application) + "\\LocalServer32";
    const std::string typeLib = "TypeLib\\" + GuidText(LIBID_QuodrixLib) + "\\1.0\\0\\";
    const std::string marshal = "Interface\\" + GuidText(IID_IApplication) + "\\ProxyStubClsid32";
    struct View {
        const char* name;
        DWORD flag;
        const char* platform;
    };
    const View views[] = {{"64-bit view", RRF_SUBKEY_WOW6464KEY, "win64"}, {"32-bit view", RRF_SUBKEY_WOW6432KEY, "win32"}};
    {
        SimulatorRegistration registration({"--journal", "C:\\velo-views.journal"});
        ASSERT_TRUE(registration.ok()) << registration.output();
        for (const View& view : views) {
            SCOPED_TRACE(view.name);
            auto command = ClassesValue(server, view.flag);
            ASSERT_TRUE(command);
            EXPECT_NE(command->find("Velo.exe\" --journal C:\\velo-views.journal"), std::string::npos) << *command;
            EXPECT_TRUE(EndsWith(ClassesValue(typeLib + view.platform, view.flag), "Velo.exe"));
            EXPECT_EQ(ClassesValue(marshal, view.flag), "{00020424-0000-0000-C000-000000000046}");
        }
    }
    for (const View& view : views) {
        SCOPED_TRACE(view.name);
        EXPECT_FALSE(ClassesValue(server, view.flag));
        EXPECT_FALSE(ClassesValue(typeLib + view.platform, view.flag));
    }
}

}  // namespace
