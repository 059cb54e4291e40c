// The control window's procedure driven in-process, for what cannot be done to a daemon from outside.
#include "tests/support/HostedControlWindow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace qxtest;

namespace {

// A class of another name than the daemon's, so that no client mistakes this window for a daemon.
constexpr char kTestClass[] = "QXPilotControlWindowTest";

class ControlWindowTest : public HostedControlWindowTest {
protected:
    ControlWindowTest() : HostedControlWindowTest(kTestClass) {}
    bool QuitPosted() {
        MSG msg;
        return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }
};

TEST_F(ControlWindowTest, CreationBindsTheApplication) {
    EXPECT_EQ(app.window, window);
    EXPECT_EQ(reinterpret_cast<CApplication*>(GetWindowLongPtrA(window, GWLP_USERDATA)), &app);
}

TEST_F(ControlWindowTest, CloseIsRefusedAndDestructionShutsDown) {
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(QuitPosted());

    DestroyWindow(window);
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(app.window, nullptr);
    EXPECT_THAT(LogTexts(logDir.path()), ::testing::Contains("Control window destroyed, stopping QXPilot"));
}

TEST_F(ControlWindowTest, CopyDataReturnsZeroHandledOrNot) {
    ModuleRequest module{};
    CopyField(module.moduleName, "Desk");
    CopyField(module.windowKind, "Teletype");
    COPYDATASTRUCT data{PILOT_REQ_ADD_MODULE, sizeof module, &module};
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_THAT(LogTexts(logDir.path()), ::testing::Contains("Invalid Piloting Module: Teletype"));
    data.dwData = 77;
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, 0), 0);
    EXPECT_FALSE(QuitPosted());
}

TEST_F(ControlWindowTest, StopRequestPostsQuit) {
    COPYDATASTRUCT data{PILOT_REQ_STOP, 0, nullptr};
    EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_TRUE(QuitPosted());
}

}  // namespace
