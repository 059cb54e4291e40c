// Creating the daemon process: plainly, or with a token carrying an explicit integrity label.
#include "client/ClientCore.h"
#include "client/WinOwners.h"

#include <sddl.h>

#include <new>

// The fixed sizes are the x64 structures'; an x86 build passes the x86 structures' own sizes.
#ifdef _WIN64
static_assert(sizeof(STARTUPINFOA) == 104, "the startup information is passed as 104 bytes");
static_assert(sizeof(TOKEN_MANDATORY_LABEL) == 16, "the label size is 16 plus the length of its SID");
#else
static_assert(sizeof(STARTUPINFOA) == 68, "the x86 startup information is passed as 68 bytes");
static_assert(sizeof(TOKEN_MANDATORY_LABEL) == 8, "the x86 label size is 8 plus the length of its SID");
#endif

namespace {

std::string ReadIntegritySidText(HANDLE process) {
    if (process == nullptr) return {};
    HandleOwner token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.receive())) return {};

    DWORD needed = 0;
    if (GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(TOKEN_MANDATORY_LABEL))
        return {};
    LocalOwner buffer(LocalAlloc(LMEM_FIXED, needed));
    if (buffer.get() == nullptr) return {};
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.get(), needed, &needed)) return {};

    PSID sid = static_cast<const TOKEN_MANDATORY_LABEL*>(buffer.get())->Label.Sid;
    if (sid == nullptr || !IsValidSid(sid)) return {};
    // A label without sub-authorities names no level; reading "the last one" would index before the array.
    DWORD count = *GetSidSubAuthorityCount(sid);
    if (count == 0) return {};
    return IntegritySidTextForLevel(*GetSidSubAuthority(sid, count - 1));
}

}  // namespace

std::string IntegritySidText(HANDLE process) {
    // Nothing may escape through a C export: no memory means no label, and the labelled launch fails.
    try {
        return ReadIntegritySidText(process);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool LaunchWithIntegrityToken(const char* applicationName, char* commandLine, STARTUPINFOA* startup,
                              PROCESS_INFORMATION* info) {
    constexpr DWORD kAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT;
    HandleOwner token;
    if (!OpenProcessToken(GetCurrentProcess(), kAccess, token.receive())) return false;
    HandleOwner duplicate;
    if (!DuplicateTokenEx(token.get(), kAccess, nullptr, SecurityImpersonation, TokenPrimary, duplicate.receive()))
        return false;

    std::string sidText = IntegritySidText(GetCurrentProcess());
    if (sidText.empty()) return false;
    LocalOwner sid;
    if (!ConvertStringSidToSidA(sidText.c_str(), reinterpret_cast<PSID*>(sid.receive()))) return false;

    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = sid.get();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    DWORD size = static_cast<DWORD>(sizeof label) + GetLengthSid(sid.get());
    if (!SetTokenInformation(duplicate.get(), TokenIntegrityLevel, &label, size)) return false;

    return CreateProcessAsUserA(duplicate.get(), applicationName, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, startup, info) != FALSE;
}

namespace {

bool OwnsControlWindow(DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, kControlWindowClass, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) return true;
    }
    return false;
}

}  // namespace

Readiness WaitForControlWindow(HANDLE process, DWORD processId) {
    ULONGLONG deadline = GetTickCount64() + kControlWindowGraceMs;
    for (;;) {
        // Wine's wait for idleness also returns 0 when the process has ended (a second daemon exits at once).
        if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return Readiness::Ended;
        if (OwnsControlWindow(processId)) return Readiness::Ready;
        if (GetTickCount64() >= deadline) return Readiness::Idle;
        WaitForSingleObject(process, 10);
    }
}

std::int32_t LaunchDaemon(const char* exePath, bool integrityLaunch, const char* logDir) {
    SetLastSystemError(0);
    if (exePath == nullptr) return kClientNullPath;

    DaemonLaunch launch = ComposeDaemonLaunch(exePath, logDir);
    const char* applicationName = launch.useCommandLine ? nullptr : exePath;
    char* commandLine = launch.useCommandLine ? launch.commandLine.data() : nullptr;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION info{};

    // A failed labelled launch never falls back to a plain one: the caller asked for the label.
    bool created = integrityLaunch
                       ? LaunchWithIntegrityToken(applicationName, commandLine, &startup, &info)
                       : CreateProcessA(applicationName, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &info) != FALSE;
    if (!created) return kClientCreateFailed;
    ProcessOwner process(info);  // the library keeps nothing of the process

    DWORD wait = WaitForInputIdle(process.process(), INFINITE);
    DWORD waitError = GetLastError();
    bool ended = WaitForSingleObject(process.process(), 0) == WAIT_OBJECT_0;
    if (wait != 0 && !ended) {
        SetLastSystemError(waitError);
        return kClientNotIdle;
    }
    if (!ended && WaitForControlWindow(process.process(), info.dwProcessId) != Readiness::Ended) return kClientOk;
    return DaemonServesAfterEnd(FindWindowA(kControlWindowClass, nullptr) != nullptr);
}
