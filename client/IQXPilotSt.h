/* IQXPilotSt.dll: the client library of QXPilot.
 *
 * Applications use it to start the QXPilot daemon (QXPilotSt.exe) and to send it requests: start the terminal
 * connection, register piloting modules, pilot the terminal to an instrument, stop. Usable from C and C++;
 * every export has an undecorated C name and returns a 32-bit int (the IQXP_* codes below).
 *
 * Calling convention: on x86 every export is __stdcall (the callee removes its arguments), exported under its
 * undecorated name ("StartDaemon", not "_StartDaemon@12"), so that VBA/VB6 Declare, .NET's default P/Invoke and
 * Delphi's stdcall call it directly; link with the x86 import libraries, which map the decorated names that a
 * compiler emits for __stdcall calls to the undecorated exports. x64 has one calling convention.
 *
 * Texts are NUL-terminated 8-bit texts in the ANSI code page, except where an export's name ends in _Utf8.
 * A null text is sent as the empty text; a text longer than its field is cut to the field width minus one.
 * Every sending export blocks until the daemon has handled the request (no time-out).
 * See docs/client-api.md for the order of calls and examples.
 */
#ifndef IQXPILOTST_H
#define IQXPILOTST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(IQXPILOTST_BUILDING)
#define IQXPILOTST_API
#else
#define IQXPILOTST_API __declspec(dllimport)
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define IQXPILOTST_CALL __stdcall
#else
#define IQXPILOTST_CALL __cdecl
#endif

/* Return codes. */
#define IQXP_OK 0                   /* request sent, or daemon started and idle */
#define IQXP_CONVERSION_FAILED 1    /* a UTF-8 text could not be converted to the ANSI code page */
#define IQXP_NO_DAEMON 100          /* no daemon window found: nothing was sent */
#define IQXP_NULL_PATH 101          /* the executable path is null */
#define IQXP_CREATE_FAILED 102      /* the daemon process could not be created */
#define IQXP_NOT_IDLE 103           /* the new process did not become ready, and no daemon serves the session */
#define IQXP_EMPTY_PATH 107         /* the executable path is empty */
#define IQXP_NO_CONFIG_FILE (-1)    /* StartQuodrix_Utf8: the configuration file name is null or empty */

/* Starts exePath as the daemon with "-log_path=<logDir>" (no option when logDir is null) and waits until it is
 * idle. integrityLaunch non-zero: launch with the caller's token relabelled to the highest standard integrity
 * level not above the caller's. Returns 0, 101, 102 or 103.
 * When the new process ends on its own before serving (typically a second daemon, which exits because one
 * already runs in the session), the result says whether a daemon serves the session once it has ended: 0 when
 * a daemon's control window is there (it need not be the new process's), 103 when none is; in both cases
 * GetSystemLastError returns 0. */
IQXPILOTST_API int32_t IQXPILOTST_CALL StartDaemon(const char* exePath, uint8_t integrityLaunch, const char* logDir);

/* As StartDaemon, exePath and logDir in UTF-8; a null logDir still passes an empty "-log_path=".
 * Returns 0, 1, 101, 102, 103 or 107. */
IQXPILOTST_API int32_t IQXPILOTST_CALL StartDaemon_Utf8(const char* exePath, uint8_t integrityLaunch,
                                                        const char* logDir);

/* Stops the daemon; returns once its terminal connection is closed. Returns 0 or 100. */
IQXPILOTST_API int32_t IQXPILOTST_CALL StopDaemon(void);

/* Asks the daemon to connect to the terminal server address:port and to load configFile (null or empty:
 * "qxpilot.dat"). Only the first start request of a daemon run counts. Returns 0 or 100. */
IQXPILOTST_API int32_t IQXPILOTST_CALL StartQuodrix(const char* address, int32_t port, const char* configFile);

/* As StartQuodrix, configFile in UTF-8 (address is passed unconverted). Returns 0, 1, 100 or -1. */
IQXPILOTST_API int32_t IQXPILOTST_CALL StartQuodrix_Utf8(const char* address, int32_t port, const char* configFile);

/* Registers windowKind ("Vista", "FullQuote", ..., or "All") as piloted by moduleName. Send after StartQuodrix:
 * the first start request empties the module registry. Returns 0 or 100. */
IQXPILOTST_API int32_t IQXPILOTST_CALL AddPilotingModule(const char* moduleName, const char* windowKind);

/* Pilots the terminal's windows of the registered kinds to the instrument. extraNumber and extraCode are carried
 * but not used by the daemon. Returns 0 or 100. */
IQXPILOTST_API int32_t IQXPILOTST_CALL PilotQuodrix(int32_t place, int32_t codeMiddle, int32_t market,
                                                    int32_t extraNumber, const char* symbol, const char* extraCode,
                                                    const char* group, const char* isin, const char* currency,
                                                    const char* creditClass, const char* underlying);

/* Returns the system error recorded by the most recent export call of this process (0: none). */
IQXPILOTST_API int32_t IQXPILOTST_CALL GetSystemLastError(void);

/* Pointer types for applications that load the library with LoadLibrary/GetProcAddress. */
typedef int32_t(IQXPILOTST_CALL* IQXP_StartDaemon_Fn)(const char*, uint8_t, const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_StartDaemon_Utf8_Fn)(const char*, uint8_t, const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_StopDaemon_Fn)(void);
typedef int32_t(IQXPILOTST_CALL* IQXP_StartQuodrix_Fn)(const char*, int32_t, const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_StartQuodrix_Utf8_Fn)(const char*, int32_t, const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_AddPilotingModule_Fn)(const char*, const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_PilotQuodrix_Fn)(int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                                                      const char*, const char*, const char*, const char*,
                                                      const char*);
typedef int32_t(IQXPILOTST_CALL* IQXP_GetSystemLastError_Fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* IQXPILOTST_H */
