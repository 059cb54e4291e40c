// The sending exports' logic, the UTF-8 conversions and the process-wide last error.
#include "client/ClientCore.h"

#include <atomic>
#include <new>
#include <vector>

namespace {

// Shared by every thread of the process and written without ordering: whichever export wrote last wins.
std::atomic<std::uint32_t> lastSystemError{0};

}  // namespace

std::uint32_t LastSystemError() noexcept { return lastSystemError.load(std::memory_order_relaxed); }

void SetLastSystemError(std::uint32_t error) noexcept { lastSystemError.store(error, std::memory_order_relaxed); }

std::int32_t SendControlRequest(std::uint32_t code, const void* record, DWORD size) noexcept {
    HWND daemon = FindWindowA(kControlWindowClass, nullptr);
    if (daemon == nullptr) return kClientNoDaemon;
    COPYDATASTRUCT copy{};
    copy.dwData = code;
    copy.cbData = size;
    copy.lpData = const_cast<void*>(record);
    // A successful send may leave an older error in place: clear it, so the error recorded is the send's own.
    SetLastError(ERROR_SUCCESS);
    SendMessageA(daemon, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    SetLastSystemError(GetLastError());
    return kClientOk;
}

std::int32_t ClientStopDaemon() noexcept {
    SetLastSystemError(0);
    return SendControlRequest(PILOT_REQ_STOP, nullptr, 0);
}

std::int32_t ClientStartQuodrix(const char* address, std::int32_t port, const char* configFile) noexcept {
    SetLastSystemError(0);
    StartRequest record = MakeStartRequest(address, port, configFile);
    return SendControlRequest(PILOT_REQ_START_TERMINAL, &record, sizeof record);
}

std::int32_t ClientAddPilotingModule(const char* moduleName, const char* windowKind) noexcept {
    SetLastSystemError(0);
    ModuleRequest record = MakeModuleRequest(moduleName, windowKind);
    return SendControlRequest(PILOT_REQ_ADD_MODULE, &record, sizeof record);
}

std::int32_t ClientPilotQuodrix(const PilotArguments& arguments) noexcept {
    SetLastSystemError(0);
    PilotRequest record = MakePilotRequest(arguments);
    return SendControlRequest(PILOT_REQ_PILOT, &record, sizeof record);
}

namespace {

TextConversion ConvertUtf8(const char* text, UINT codePage) {
    TextConversion result;
    if (text == nullptr || *text == '\0') {
        result.ok = true;
        return result;
    }
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (wideLength <= 0) {
        result.error = GetLastError();
        return result;
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength) + 1, L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), wideLength) <= 0) {
        result.error = GetLastError();
        return result;
    }
    int length = WideCharToMultiByte(codePage, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        result.error = GetLastError();
        return result;
    }
    std::vector<char> narrow(static_cast<std::size_t>(length) + 1, '\0');
    if (WideCharToMultiByte(codePage, 0, wide.data(), -1, narrow.data(), length, nullptr, nullptr) <= 0) {
        result.error = GetLastError();
        return result;
    }
    result.text = narrow.data();
    result.ok = true;
    return result;
}

}  // namespace

TextConversion Utf8ToCodePage(const char* text, UINT codePage) {
    // Nothing may escape through a C export: running out of memory is a failed conversion.
    try {
        return ConvertUtf8(text, codePage);
    } catch (const std::bad_alloc&) {
        TextConversion failed;
        failed.error = ERROR_NOT_ENOUGH_MEMORY;
        return failed;
    }
}

TextConversion Utf8ToAnsi(const char* text) { return Utf8ToCodePage(text, CP_ACP); }

std::int32_t StartDaemonUtf8Flow(const char* exePath, bool integrityLaunch, const char* logDir,
                                 TextConverter convert, DaemonStarter startDaemon) {
    SetLastSystemError(0);
    if (exePath == nullptr) return kClientNullPath;
    TextConversion path = convert(exePath);
    if (!path.ok) {
        SetLastSystemError(path.error);
        return kClientConversionFailed;
    }
    if (path.text.empty()) return kClientEmptyPath;
    // A null directory becomes the empty one, so the daemon always gets "-log_path=".
    std::string directory;
    if (logDir != nullptr) {
        TextConversion converted = convert(logDir);
        if (!converted.ok) {
            SetLastSystemError(converted.error);
            return kClientConversionFailed;
        }
        directory = std::move(converted.text);
    }
    return startDaemon(path.text.c_str(), integrityLaunch, directory.c_str());
}

std::int32_t StartQuodrixUtf8Flow(const char* address, std::int32_t port, const char* configFile,
                                  TextConverter convert, QuodrixStarter startQuodrix) {
    SetLastSystemError(0);
    if (configFile == nullptr) return kClientNoConfigFile;
    TextConversion file = convert(configFile);
    if (!file.ok) {
        SetLastSystemError(file.error);
        return kClientConversionFailed;
    }
    if (file.text.empty()) return kClientNoConfigFile;
    SetLastSystemError(0);
    return startQuodrix(address, port, file.text.c_str());
}
