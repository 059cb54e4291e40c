// The x86 build under Wine, against the x64 one: the same bytes on the wire, the stdcall convention, and
// sessions mixing the two architectures (x86 client with x64 daemon, x64 client with x86 daemon piloting the
// x64 simulator through COM). Skipped, with the reason, where 32-bit programs cannot run.
#include "tests/sdk/SdkSupport.h"

#include <gtest/gtest.h>

using namespace qxtest;

namespace {

class X86Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kX86Runnable) GTEST_SKIP() << kX86Unavailable;
        KillStrayDaemon();
    }
};

TEST_F(X86Test, TheX86DllPutsExactlyTheX64BytesOnTheWire) {
    RecordedRun x64 = RecordCallsProgram(ArchPath("x64", "qxsdk_calls.exe"));
    RecordedRun x86 = RecordCallsProgram(ArchPath("x86", "qxsdk_calls.exe"));
    ASSERT_TRUE(x64.run.finished && x86.run.finished);
    ASSERT_EQ(x86.run.exitCode, 0u) << x86.run.output;
    EXPECT_EQ(x86.run.output, x64.run.output) << "the same return codes";
    ASSERT_EQ(x64.requests.size(), 10u);
    ASSERT_EQ(x86.requests.size(), x64.requests.size());
    for (std::size_t i = 0; i < x64.requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(x86.requests[i].code, x64.requests[i].code);
        EXPECT_EQ(x86.requests[i].size, x64.requests[i].size);
        EXPECT_EQ(x86.requests[i].hasData, x64.requests[i].hasData);
        EXPECT_EQ(x86.requests[i].bytes, x64.requests[i].bytes);
    }
}

TEST_F(X86Test, EveryX86ExportIsStdcallUnderItsUndecoratedName) {
    ExpectEveryCallKeepsTheStackPointer("x86");
}

TEST_F(X86Test, TheX86QxpilotStartsAndDrivesTheX64Daemon) {
    RunMixedSession(ArchPath("x86", "qxpilot.exe"), ArchPath("x64", "QXPilotSt.exe"));
}

TEST_F(X86Test, TheX64QxpilotDrivesTheX86DaemonWhichPilotsTheX64Simulator) {
    RunMixedSession(ArchPath("x64", "qxpilot.exe"), ArchPath("x86", "QXPilotSt.exe"));
}

}  // namespace
