// A stand-in for the daemon that StartDaemon can launch: it writes its process id and its command line, exactly
// as it received them, to the file named by QXPROBE_OUT, then behaves as QXPROBE_MODE says:
//   window   (default) owns a control window of the daemon's class, ends on a stop request
//   idle     waits for messages without such a window (idle, but not a daemon), ends on WM_QUIT or when killed
//   exit     ends at once, before ever becoming idle
#include "common/QXRequests.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Environment(const char* name) {
    char value[1024] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : std::string();
}

LRESULT CALLBACK ProbeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA && lParam != 0 &&
        reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData == PILOT_REQ_STOP) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string out = Environment("QXPROBE_OUT");
    std::string mode = Environment("QXPROBE_MODE");
    if (!out.empty()) {
        HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::string text = std::to_string(GetCurrentProcessId()) + "\n" + GetCommandLineA();
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    if (mode == "exit") return 7;

    HWND window = nullptr;
    if (mode != "idle") {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = ProbeWndProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kControlWindowClass;
        RegisterClassExA(&windowClass);
        window = CreateWindowExA(0, kControlWindowClass, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (window != nullptr) DestroyWindow(window);
    return 0;
}
