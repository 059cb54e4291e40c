#pragma once

#include <windows.h>

// Window procedure of the class "TarvelQXPilot".
LRESULT CALLBACK ControlWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
