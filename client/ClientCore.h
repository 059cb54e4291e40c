// The client library's logic, kept apart from the thin exported entry points so that tests can call it.
#pragma once

#include "common/QXRequests.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Return codes of the exports (the IQXP_* values of the public header).
enum ClientResult : std::int32_t {
    kClientOk = 0,
    kClientConversionFailed = 1,
    kClientNoDaemon = 100,
    kClientNullPath = 101,
    kClientCreateFailed = 102,
    kClientNotIdle = 103,
    kClientEmptyPath = 107,
    kClientNoConfigFile = -1,
};

// The one process-wide error value that GetSystemLastError reports.
std::uint32_t LastSystemError() noexcept;
void SetLastSystemError(std::uint32_t error) noexcept;

// ---- Request records: zero-filled, texts cut to their field, null texts empty.

StartRequest MakeStartRequest(const char* address, std::int32_t port, const char* configFile) noexcept;
ModuleRequest MakeModuleRequest(const char* moduleName, const char* windowKind) noexcept;

struct PilotArguments {
    std::int32_t place = 0;
    std::int32_t codeMiddle = 0;
    std::int32_t market = 0;
    std::int32_t extraNumber = 0;
    const char* symbol = nullptr;
    const char* extraCode = nullptr;
    const char* group = nullptr;
    const char* isin = nullptr;
    const char* currency = nullptr;
    const char* creditClass = nullptr;
    const char* underlying = nullptr;
};
PilotRequest MakePilotRequest(const PilotArguments& arguments) noexcept;

// ---- Sending.

// Finds the daemon's window and sends one WM_COPYDATA; records the send's system error.
// kClientNoDaemon when there is no window (nothing sent), otherwise kClientOk.
std::int32_t SendControlRequest(std::uint32_t code, const void* record, DWORD size) noexcept;

std::int32_t ClientStopDaemon() noexcept;
std::int32_t ClientStartQuodrix(const char* address, std::int32_t port, const char* configFile) noexcept;
std::int32_t ClientAddPilotingModule(const char* moduleName, const char* windowKind) noexcept;
std::int32_t ClientPilotQuodrix(const PilotArguments& arguments) noexcept;

// ---- UTF-8 conversion.

struct TextConversion {
    bool ok = false;
    std::string text;
    std::uint32_t error = 0;  // the failing step's system error
};
// UTF-8 through UTF-16 to `codePage`; malformed input and missing characters are substituted, not refused.
TextConversion Utf8ToCodePage(const char* text, UINT codePage);
TextConversion Utf8ToAnsi(const char* text);

using TextConverter = TextConversion (*)(const char*);
using DaemonStarter = std::int32_t (*)(const char* exePath, bool integrityLaunch, const char* logDir);
using QuodrixStarter = std::int32_t (*)(const char* address, std::int32_t port, const char* configFile);

std::int32_t StartDaemonUtf8Flow(const char* exePath, bool integrityLaunch, const char* logDir,
                                 TextConverter convert, DaemonStarter startDaemon);
std::int32_t StartQuodrixUtf8Flow(const char* address, std::int32_t port, const char* configFile,
                                  TextConverter convert, QuodrixStarter startQuodrix);

// ---- Daemon launch.

inline constexpr std::size_t kCommandLineSize = 520;

// How the daemon is created: with a command line ("exe" -log_path=dir, cut to 519 characters) when a log
// directory is given, otherwise with the executable path as application name and no command line.
struct DaemonLaunch {
    bool useCommandLine = false;
    std::array<char, kCommandLineSize> commandLine{};
};
DaemonLaunch ComposeDaemonLaunch(const char* exePath, const char* logDir) noexcept;

// The highest standard integrity level not above `callerLevel`, and its label text "S-1-16-<level>".
std::uint32_t StandardIntegrityLevel(std::uint32_t callerLevel) noexcept;
std::string IntegritySidTextForLevel(std::uint32_t callerLevel);

// The label text for `process`'s integrity level; empty when it cannot be read.
std::string IntegritySidText(HANDLE process);

// CreateProcessAsUserA with a duplicate of the caller's token carrying an explicit integrity label.
bool LaunchWithIntegrityToken(const char* applicationName, char* commandLine, STARTUPINFOA* startup,
                              PROCESS_INFORMATION* info);

// After the new process reported itself idle: whether it owns the daemon's control window yet. Wine can report
// a process idle while it is still initialising (its first user32 calls may wait for messages), before the
// daemon has created its window, and a request sent then would find no daemon. The process ending first
// means it will never serve; a process idle without such a window after the grace time (not a daemon) is
// taken as started.
enum class Readiness { Ready, Ended, Idle };
inline constexpr DWORD kControlWindowGraceMs = 5000;
Readiness WaitForControlWindow(HANDLE process, DWORD processId);

// The result of StartDaemon when the new process ended on its own before serving: 0 when, once it has
// ended, a daemon's control window exists (whichever process owns it), 103 when none does; the last system
// error is 0 either way.
std::int32_t DaemonServesAfterEnd(bool controlWindowFound) noexcept;

// StartDaemon: creates the daemon process and waits until it is idle and serving.
std::int32_t LaunchDaemon(const char* exePath, bool integrityLaunch, const char* logDir);
