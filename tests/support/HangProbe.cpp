// A program that never ends, for the test of the watchdog itself (run-bounded.sh).
//   qx_hang_probe.exe           starts qx_hang_helper.exe --hang as its child, then hangs
//   qx_hang_probe.exe --orphan  starts qx_hang_helper.exe --relay, which starts the hanging helper and exits at
//                               once (leaving it without a parent, as a daemon started by qxpilot is), then hangs
//   qx_hang_helper.exe --hang   hangs
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

bool Start(const char* arguments)
{
    // The helper sits beside this program.
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\') --length;
    path[length] = '\0';
    char commandLine[2 * MAX_PATH] = {};
    std::snprintf(commandLine, sizeof commandLine, "\"%sqx_hang_helper.exe\" %s", path, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// Named so that the stack shows where the program waits.
__attribute__((noinline)) void WaitForever()
{
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, INFINITE);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--relay") == 0)
        return Start("--hang") ? 0 : 1;
    if (std::strcmp(mode, "--hang") != 0 && !Start(std::strcmp(mode, "--orphan") == 0 ? "--relay" : "--hang")) {
        std::printf("could not start qx_hang_helper.exe (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("%s waiting for ever\n", mode);
    std::fflush(stdout);
    WaitForever();
    return 0;
}
