// The daemon's control window procedure driven in a test process: a window of a class no client looks for,
// bound to a CApplication of the test, with the logger writing into a temporary folder.
#pragma once

#include "daemon/core/Application.h"
#include "daemon/core/ControlWindow.h"
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace qxtest {

class HostedControlWindowTest : public ::testing::Test {
protected:
    explicit HostedControlWindowTest(const char* className) : m_className(className) {}

    void SetUp() override {
        theLogger.open(logDir.path().c_str());
        host.emplace(m_className, ControlWndProc, &app);
        window = host->get();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        host.reset();
        // Destroying the window posts the quit message: leave the next test an empty queue.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        theLogger.close();
    }

    // WM_COPYDATA sent to the window, as a client sends a request.
    LRESULT Request(ULONG_PTR code, const void* data, DWORD size) {
        COPYDATASTRUCT copy{code, size, const_cast<void*>(data)};
        return SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    }

    TempDir logDir;
    CApplication app;
    std::optional<HostedWindow> host;
    HWND window = nullptr;

private:
    const char* m_className;
};

}  // namespace qxtest
