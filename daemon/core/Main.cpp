// QXPilotSt.exe entry: single-instance guard, log, control window and message loop.
#include "daemon/core/Application.h"
#include "daemon/core/ControlWindow.h"
#include "daemon/log/LogPath.h"
#include "daemon/log/Logger.h"
#include "daemon/proxy/ProxyThread.h"

#include <windows.h>

namespace {

// Created before WinMain runs; one daemon per desktop session.
class SingleInstanceMutex {
public:
    SingleInstanceMutex() noexcept {
        SetLastError(ERROR_SUCCESS);
        m_mutex = CreateMutexA(nullptr, TRUE, "AE98B5E5-94ED-40be-9F07-41E6F2189B21");
        m_first = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    ~SingleInstanceMutex() {
        if (m_mutex != nullptr) CloseHandle(m_mutex);
    }
    SingleInstanceMutex(const SingleInstanceMutex&) = delete;
    SingleInstanceMutex& operator=(const SingleInstanceMutex&) = delete;

    bool first() const noexcept { return m_first; }

private:
    HANDLE m_mutex = nullptr;
    bool m_first = true;
};

SingleInstanceMutex theInstanceMutex;

constexpr int kExitStopped = 0;
constexpr int kExitAlreadyRunning = -1;
constexpr int kExitNoWindow = 1;

int RunMessageLoop() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return kExitStopped;
}

// From the window class to the end of the message loop, with the application object; the exit code.
int RunDaemon(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ControlWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kControlWindowClass;
    ATOM registered = RegisterClassExA(&windowClass);
    DWORD registerError = registered ? 0 : GetLastError();

    CApplication app;
    theLogger.message(LogInfo, "Starting QXPilot");

    if (!theInstanceMutex.first()) {
        theLogger.message(LogWarning, "QXPilot already running, Existing.");
        return kExitAlreadyRunning;
    }
    if (!registered) {
        theLogger.message(LogError, "Cannot register the window class %s (error %lu)", kControlWindowClass,
                          registerError);
        return kExitNoWindow;
    }

    HWND window = CreateWindowExA(0, kControlWindowClass, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, nullptr, nullptr, instance, &app);
    if (window == nullptr) {
        theLogger.message(LogError, "Cannot create the control window (error %lu)", GetLastError());
        return kExitNoWindow;
    }

    int exitCode = RunMessageLoop();

    // Unbind before the application object goes away, and free the class name for the next daemon.
    if (IsWindow(window)) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    theLogger.open(ParseLogPath(commandLine).c_str());
    int exitCode = RunDaemon(instance);
    if (ProxyThreadStillStuck()) {
        // A proxy thread is still inside a call to the terminal. Should that call return now, the thread would
        // go on with objects that the process's exit is tearing down: end the process here instead, with the
        // log closed as at any exit.
        theLogger.close();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    }
    return exitCode;
}
