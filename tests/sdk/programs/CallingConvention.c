/* Loads IQXPilotSt.dll from beside this program, resolves each export by its undecorated name and calls it
 * through a pointer of the header's convention, reading the stack pointer right before and right after the
 * call: a caller and callee that disagree on who removes the arguments leave it moved by their size.
 * The calls are made with no daemon running (each returns at once). Exit status 0: all as expected. */
#include "client/IQXPilotSt.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#if defined(__i386__)
#define READ_SP(var) __asm__ volatile("movl %%esp, %0" : "=r"(var)::"memory")
#elif defined(__x86_64__)
#define READ_SP(var) __asm__ volatile("movq %%rsp, %0" : "=r"(var)::"memory")
#endif

static int failures = 0;

static void report(const char* name, int32_t rc, int32_t expected, uintptr_t before, uintptr_t after) {
    int ok = rc == expected && before == after;
    printf("%-20s rc %4d (expected %4d), stack pointer %s by %ld bytes\n", name, (int)rc, (int)expected,
           before == after ? "kept" : "MOVED", (long)((intptr_t)after - (intptr_t)before));
    if (!ok) ++failures;
}

#define CALL(name, expected, ...)                                   \
    do {                                                            \
        uintptr_t before_, after_;                                  \
        int32_t rc_;                                                \
        READ_SP(before_);                                           \
        rc_ = name##_fn(__VA_ARGS__);                               \
        READ_SP(after_);                                            \
        report(#name, rc_, expected, before_, after_);              \
    } while (0)

static FARPROC resolve(HMODULE module, const char* name) {
    FARPROC p = GetProcAddress(module, name);
    if (p == NULL) {
        printf("%-20s NOT EXPORTED\n", name);
        ++failures;
    }
    return p;
}

int main(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (length == 0 || slash == NULL) return 3;
    strcpy(slash + 1, "IQXPilotSt.dll");
    HMODULE module = LoadLibraryA(path);
    if (module == NULL) {
        printf("cannot load %s: system error %lu\n", path, (unsigned long)GetLastError());
        return 3;
    }
    printf("%d-bit process, %s\n", (int)(sizeof(void*) * 8), path);

    IQXP_StartDaemon_Fn StartDaemon_fn = (IQXP_StartDaemon_Fn)(void*)resolve(module, "StartDaemon");
    IQXP_StartDaemon_Utf8_Fn StartDaemon_Utf8_fn = (IQXP_StartDaemon_Utf8_Fn)(void*)resolve(module, "StartDaemon_Utf8");
    IQXP_StopDaemon_Fn StopDaemon_fn = (IQXP_StopDaemon_Fn)(void*)resolve(module, "StopDaemon");
    IQXP_StartQuodrix_Fn StartQuodrix_fn = (IQXP_StartQuodrix_Fn)(void*)resolve(module, "StartQuodrix");
    IQXP_StartQuodrix_Utf8_Fn StartQuodrix_Utf8_fn =
        (IQXP_StartQuodrix_Utf8_Fn)(void*)resolve(module, "StartQuodrix_Utf8");
    IQXP_AddPilotingModule_Fn AddPilotingModule_fn =
        (IQXP_AddPilotingModule_Fn)(void*)resolve(module, "AddPilotingModule");
    IQXP_PilotQuodrix_Fn PilotQuodrix_fn = (IQXP_PilotQuodrix_Fn)(void*)resolve(module, "PilotQuodrix");
    IQXP_GetSystemLastError_Fn GetSystemLastError_fn =
        (IQXP_GetSystemLastError_Fn)(void*)resolve(module, "GetSystemLastError");
    /* The decorated spellings must not be what the DLL exports. */
    const char* decorated[] = {"_StartDaemon@12", "StartDaemon@12", "_PilotQuodrix@44", "PilotQuodrix@44"};
    for (size_t i = 0; i < sizeof decorated / sizeof decorated[0]; ++i) {
        if (GetProcAddress(module, decorated[i]) != NULL) {
            printf("%-20s exported decorated\n", decorated[i]);
            ++failures;
        }
    }
    if (failures != 0) return 1;

    /* No daemon runs: the sending exports return 100; the launches fail on their arguments. */
    CALL(StartDaemon, IQXP_NULL_PATH, NULL, 1, "C:\\logs");
    CALL(StartDaemon_Utf8, IQXP_EMPTY_PATH, "", 0, NULL);
    CALL(StopDaemon, IQXP_NO_DAEMON);
    CALL(StartQuodrix, IQXP_NO_DAEMON, "127.0.0.1", 7001, "qxpilot.dat");
    CALL(StartQuodrix_Utf8, IQXP_NO_CONFIG_FILE, "127.0.0.1", 7001, "");
    CALL(AddPilotingModule, IQXP_NO_DAEMON, "Trader", "Vista");
    CALL(PilotQuodrix, IQXP_NO_DAEMON, 25, 7, 1, 0, "ABC", "X", "G", "XS0000000017", "EUR", "CC", "U");
    CALL(GetSystemLastError, 0);
    FreeLibrary(module);
    printf("%s\n", failures == 0 ? "all calls kept the stack pointer" : "FAILED");
    return failures == 0 ? 0 : 1;
}
