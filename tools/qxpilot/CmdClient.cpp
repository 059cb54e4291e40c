// The client commands of qxpilot: each one calls one export of IQXPilotSt.dll, loaded from beside qxpilot.exe
// with LoadLibrary/GetProcAddress exactly as an application would, and exits with the export's return code.
#include "client/IQXPilotSt.h"
#include "tools/qxpilot/Commands.h"

#include <windows.h>

#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// Exit statuses of qxpilot itself; every other status is an export's return code.
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;

constexpr char kLibraryName[] = "IQXPilotSt.dll";

struct CommandHelp {
    const char* name;
    const char* usage;
    const char* details;
};

constexpr CommandHelp kHelp[] = {
    {"start-daemon", "qxpilot start-daemon [--log-dir DIR] [--exe PATH] [--integrity] [--utf8]",
     "Starts the daemon (StartDaemon) and waits until it is ready for requests.\n"
     "  --log-dir DIR   log directory, passed as -log_path=DIR (quote a directory holding blanks inside the\n"
     "                  argument: --log-dir \"\\\"C:\\My Logs\\\"\"); without it the daemon logs into the current\n"
     "                  directory\n"
     "  --exe PATH      the daemon's executable (default: QXPilotSt.exe beside qxpilot.exe)\n"
     "  --integrity     launch with the caller's token labelled at its own standard integrity level\n"
     "  --utf8          go through StartDaemon_Utf8 (the log option is then always given, empty without\n"
     "                  --log-dir)\n"
     "exit status: 0 ready, 1 conversion failed, 101 no path, 102 process not created, 103 not ready,\n"
     "107 empty path"},
    {"start", "qxpilot start ADDRESS PORT [CONFIG] [--utf8]",
     "Asks the daemon to connect to the terminal server ADDRESS:PORT and to load the piloting configuration\n"
     "CONFIG (StartQuodrix; default qxpilot.dat in the daemon's current directory). Only the first start\n"
     "request of a daemon counts, and it empties the module registry: register modules afterwards.\n"
     "  --utf8          go through StartQuodrix_Utf8 (CONFIG is then required)\n"
     "exit status: 0 sent, 1 conversion failed, 100 no daemon, 255/-1 no configuration file (--utf8)"},
    {"add-module", "qxpilot add-module MODULE KIND",
     "Registers the terminal window kind KIND (Vista, FullQuote, OrderBook, TimeSales, News, Chart or All)\n"
     "as piloted by MODULE (AddPilotingModule). The daemon logs kinds it does not know.\n"
     "exit status: 0 sent, 100 no daemon"},
    {"pilot", "qxpilot pilot [--place N] [--market N] [--code-middle N] [--extra-number N] [TEXT OPTIONS]",
     "Pilots the terminal's registered windows to an instrument (PilotQuodrix). Numbers default to 0,\n"
     "texts to empty. Text options: --symbol, --extra-code, --group, --isin, --currency, --credit-class,\n"
     "--underlying (each followed by its value, or written --name=value).\n"
     "exit status: 0 sent, 100 no daemon"},
    {"stop", "qxpilot stop",
     "Stops the daemon (StopDaemon); returns once it has closed its terminal connection.\n"
     "exit status: 0 sent, 100 no daemon"},
    {"last-error", "qxpilot last-error [CODE]",
     "Prints GetSystemLastError of the library as this process loaded it: the value belongs to the calling\n"
     "process, so a fresh qxpilot always shows 0 (each other command prints the system error it met itself).\n"
     "With CODE, also prints the system's text for that error number.\n"
     "exit status: the value returned by GetSystemLastError"},
};

const CommandHelp* FindHelp(const char* command) {
    for (const CommandHelp& help : kHelp) {
        if (std::strcmp(help.name, command) == 0) return &help;
    }
    return nullptr;
}

// The system's text for an error number, on one line.
std::string SystemErrorText(DWORD error) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    std::string line(text, length < sizeof text ? length : sizeof text - 1);
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.')) line.pop_back();
    if (line.empty()) line = "no description";
    return line;
}

std::string DescribeSystemError(DWORD error) {
    std::string text = "system error ";
    text += std::to_string(error);
    text += ": ";
    text += SystemErrorText(error);
    return text;
}

const char* ExplainReturnCode(int code) {
    switch (code) {
    case IQXP_CONVERSION_FAILED: return "a text could not be converted from UTF-8 to the ANSI code page";
    case IQXP_NO_DAEMON: return "no QXPilot daemon is running (no window of class TarvelQXPilot); nothing was sent";
    case IQXP_NULL_PATH: return "no executable path was given for the daemon";
    case IQXP_CREATE_FAILED: return "the daemon process could not be created";
    case IQXP_NOT_IDLE:
        return "the new daemon process did not become ready: it ended first (is a daemon already running?) "
               "or the wait for it failed";
    case IQXP_EMPTY_PATH: return "the daemon's executable path is empty";
    case IQXP_NO_CONFIG_FILE: return "the configuration file name is missing or empty";
    default: return "unexpected return code";
    }
}

class Library {
public:
    Library() = default;
    ~Library() {
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool load(const std::string& path) {
        m_module = LoadLibraryA(path.c_str());
        return m_module != nullptr;
    }
    template <typename Function>
    Function get(const char* name) const {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }

private:
    HMODULE m_module = nullptr;
};

// Program arguments as typed (ANSI, from argv) and, for the UTF-8 exports, as UTF-8 from the wide command line
// so that characters outside the ANSI code page survive up to the library.
class Arguments {
public:
    Arguments(int argc, char** argv) : m_ansi(argv, argv + argc) {}

    std::size_t size() const { return m_ansi.size(); }
    const std::string& operator[](std::size_t i) const { return m_ansi[i]; }

    // The UTF-8 form of argument i; empty optional when the wide command line does not line up with argv.
    std::optional<std::string> utf8(std::size_t i) const {
        if (!m_utf8Loaded) loadUtf8();
        if (i >= m_utf8.size()) return std::nullopt;
        return m_utf8[i];
    }

private:
    void loadUtf8() const {
        m_utf8Loaded = true;
        int count = 0;
        LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
        if (wide == nullptr) return;
        // The command's own arguments follow the program name and the command name.
        if (count == static_cast<int>(m_ansi.size()) + 2) {
            for (int i = 2; i < count; ++i) m_utf8.push_back(ToUtf8(wide[i]));
        }
        LocalFree(wide);
    }

    static std::string ToUtf8(const wchar_t* text) {
        int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (length <= 0) return {};
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer.data(), length, nullptr, nullptr);
        return buffer.data();
    }

    std::vector<std::string> m_ansi;
    mutable std::vector<std::string> m_utf8;
    mutable bool m_utf8Loaded = false;
};

int UsageError(const char* command, const std::string& problem) {
    std::fprintf(stderr, "qxpilot %s: %s\n", command, problem.c_str());
    if (const CommandHelp* help = FindHelp(command)) std::fprintf(stderr, "usage: %s\n", help->usage);
    std::fprintf(stderr, "(qxpilot %s --help for details)\n", command);
    return kExitUsage;
}

bool ParseInt32(const std::string& text, std::int32_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<std::int32_t>(parsed);
    return true;
}

// Splits "--name=value" and "--name value"; `next` advances past a separate value.
struct Option {
    std::string name;
    std::optional<std::string> inlineValue;
};

Option SplitOption(const std::string& argument) {
    Option option;
    std::size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
        option.name = argument.substr(0, equals);
        option.inlineValue = argument.substr(equals + 1);
    } else {
        option.name = argument;
    }
    return option;
}

// An option's value: inline (--name=value) or the next argument; `index` is the argument that holds it.
struct OptionValue {
    std::string text;
    std::size_t index = 0;
    bool isInline = false;
};

class OptionReader {
public:
    explicit OptionReader(const Arguments& arguments) : m_arguments(arguments) {}

    bool done() const { return m_index >= m_arguments.size(); }
    const std::string& current() const { return m_arguments[m_index - 1]; }
    Option next() { return SplitOption(m_arguments[m_index++]); }

    // The value of the option just read; nothing when it is missing.
    std::optional<OptionValue> value(const Option& option) {
        if (option.inlineValue) return OptionValue{*option.inlineValue, m_index - 1, true};
        if (m_index >= m_arguments.size()) return std::nullopt;
        OptionValue value{m_arguments[m_index], m_index, false};
        ++m_index;
        return value;
    }

private:
    const Arguments& m_arguments;
    std::size_t m_index = 0;
};

// The UTF-8 form of an option's value.
std::optional<std::string> Utf8Value(const Arguments& arguments, const OptionValue& value) {
    std::optional<std::string> whole = arguments.utf8(value.index);
    if (!whole || !value.isInline) return whole;
    return SplitOption(*whole).inlineValue;
}

bool WantsHelp(const Arguments& arguments) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--help" || arguments[i] == "-h") return true;
    }
    return false;
}

std::string ProgramDir() {
    char path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, length < sizeof path ? length : 0);
    std::size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}

std::string ProgramDirUtf8() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring full(path, length < MAX_PATH * 2 ? length : 0);
    std::size_t slash = full.find_last_of(L"\\/");
    full = slash == std::wstring::npos ? std::wstring(L".") : full.substr(0, slash);
    int size = WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return ".";
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, buffer.data(), size, nullptr, nullptr);
    return buffer.data();
}

// What the command ended with: the export's return code, explained, with the system error it left.
int Report(const char* command, int code, DWORD systemError, DWORD threadError, const std::string& success) {
    if (code == IQXP_OK) {
        std::printf("%s\n", success.c_str());
        if (systemError != 0)
            std::fprintf(stderr, "qxpilot %s: warning: the request was sent, but the platform reported %s\n", command,
                         DescribeSystemError(systemError).c_str());
        std::fflush(stdout);
        return code;
    }
    std::string line = "qxpilot ";
    line += command;
    line += ": ";
    line += ExplainReturnCode(code);
    line += " (code ";
    line += std::to_string(code);
    line += ")";
    if (systemError != 0) {
        line += "; ";
        line += DescribeSystemError(systemError);
    } else if (code == IQXP_CREATE_FAILED && threadError != 0) {
        // The library keeps no error for a failed creation; the thread's own error still tells why.
        line += "; the thread's last error is ";
        line += DescribeSystemError(threadError);
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    return code;
}

// Under Wine a process created without handle inheritance still receives its creator's standard handles, so a
// daemon started from a pipeline would hold the pipe open for its whole life and the pipeline would never end.
// Our standard handles are hidden while the daemon is created.
class DetachedStandardHandles {
public:
    DetachedStandardHandles()
        : m_input(GetStdHandle(STD_INPUT_HANDLE)),
          m_output(GetStdHandle(STD_OUTPUT_HANDLE)),
          m_error(GetStdHandle(STD_ERROR_HANDLE)) {
        std::fflush(stdout);
        std::fflush(stderr);
        SetStdHandle(STD_INPUT_HANDLE, nullptr);
        SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
        SetStdHandle(STD_ERROR_HANDLE, nullptr);
    }
    ~DetachedStandardHandles() {
        SetStdHandle(STD_INPUT_HANDLE, m_input);
        SetStdHandle(STD_OUTPUT_HANDLE, m_output);
        SetStdHandle(STD_ERROR_HANDLE, m_error);
    }
    DetachedStandardHandles(const DetachedStandardHandles&) = delete;
    DetachedStandardHandles& operator=(const DetachedStandardHandles&) = delete;

private:
    HANDLE m_input;
    HANDLE m_output;
    HANDLE m_error;
};

struct Exports {
    IQXP_StartDaemon_Fn startDaemon = nullptr;
    IQXP_StartDaemon_Utf8_Fn startDaemonUtf8 = nullptr;
    IQXP_StopDaemon_Fn stopDaemon = nullptr;
    IQXP_StartQuodrix_Fn startQuodrix = nullptr;
    IQXP_StartQuodrix_Utf8_Fn startQuodrixUtf8 = nullptr;
    IQXP_AddPilotingModule_Fn addPilotingModule = nullptr;
    IQXP_PilotQuodrix_Fn pilotQuodrix = nullptr;
    IQXP_GetSystemLastError_Fn getSystemLastError = nullptr;
};

int RunStartDaemon(const Exports& library, const Arguments& arguments) {
    const char* command = "start-daemon";
    std::optional<OptionValue> logDir, exe;
    bool integrity = false, utf8 = false;
    OptionReader reader(arguments);
    while (!reader.done()) {
        Option option = reader.next();
        if (option.name == "--log-dir") {
            logDir = reader.value(option);
            if (!logDir) return UsageError(command, "--log-dir needs a directory");
        } else if (option.name == "--exe") {
            exe = reader.value(option);
            if (!exe) return UsageError(command, "--exe needs a path");
        } else if (option.name == "--integrity" && !option.inlineValue) {
            integrity = true;
        } else if (option.name == "--utf8" && !option.inlineValue) {
            utf8 = true;
        } else {
            return UsageError(command, "unexpected argument '" + reader.current() + "'");
        }
    }

    std::string shownPath = exe ? exe->text : ProgramDir() + "\\QXPilotSt.exe";
    std::string done = "daemon started and ready: " + shownPath +
                       (logDir ? ", log directory " + logDir->text : std::string(", log in the current directory"));
    int code = 0;
    DWORD threadError = 0;
    if (!utf8) {
        DetachedStandardHandles detached;
        code = library.startDaemon(shownPath.c_str(), integrity ? 1 : 0, logDir ? logDir->text.c_str() : nullptr);
        threadError = GetLastError();
    } else {
        // UTF-8 texts as an application would pass them: from the wide command line, not from argv.
        std::optional<std::string> path = exe ? Utf8Value(arguments, *exe) : ProgramDirUtf8() + "\\QXPilotSt.exe";
        std::optional<std::string> directory = logDir ? Utf8Value(arguments, *logDir) : std::nullopt;
        if (!path || (logDir && !directory)) return UsageError(command, "cannot read the arguments as UTF-8");
        DetachedStandardHandles detached;
        code = library.startDaemonUtf8(path->c_str(), integrity ? 1 : 0, directory ? directory->c_str() : nullptr);
        threadError = GetLastError();
    }
    return Report(command, code, static_cast<DWORD>(library.getSystemLastError()), threadError, done);
}

int RunStart(const Exports& library, const Arguments& arguments) {
    const char* command = "start";
    std::vector<std::size_t> positional;
    bool utf8 = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--utf8") utf8 = true;
        else if (arguments[i].rfind("--", 0) == 0) return UsageError(command, "unknown option '" + arguments[i] + "'");
        else positional.push_back(i);
    }
    if (positional.size() < 2) return UsageError(command, "ADDRESS and PORT are required");
    if (positional.size() > 3) return UsageError(command, "too many arguments");
    const std::string& address = arguments[positional[0]];
    std::int32_t port = 0;
    if (!ParseInt32(arguments[positional[1]], port))
        return UsageError(command, "PORT must be a 32-bit number, not '" + arguments[positional[1]] + "'");
    std::optional<std::string> config;
    if (positional.size() == 3) config = utf8 ? arguments.utf8(positional[2]) : arguments[positional[2]];
    if (positional.size() == 3 && !config) return UsageError(command, "cannot read CONFIG as UTF-8");

    int code = utf8 ? library.startQuodrixUtf8(address.c_str(), port, config ? config->c_str() : nullptr)
                    : library.startQuodrix(address.c_str(), port, config ? config->c_str() : nullptr);
    DWORD threadError = GetLastError();
    std::string done = "start request sent: terminal server " + address + ":" + std::to_string(port) +
                       ", configuration " +
                       (positional.size() == 3 ? arguments[positional[2]] : std::string("qxpilot.dat (default)"));
    return Report(command, code, static_cast<DWORD>(library.getSystemLastError()), threadError, done);
}

int RunAddModule(const Exports& library, const Arguments& arguments) {
    const char* command = "add-module";
    if (arguments.size() != 2) return UsageError(command, "MODULE and KIND are required");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i].rfind("--", 0) == 0) return UsageError(command, "unknown option '" + arguments[i] + "'");
    }
    int code = library.addPilotingModule(arguments[0].c_str(), arguments[1].c_str());
    DWORD threadError = GetLastError();
    return Report(command, code, static_cast<DWORD>(library.getSystemLastError()), threadError,
                  "module request sent: " + arguments[0] + " pilots " + arguments[1]);
}

int RunPilot(const Exports& library, const Arguments& arguments) {
    const char* command = "pilot";
    struct IntOption {
        const char* name;
        std::int32_t value;
    };
    IntOption numbers[] = {{"--place", 0}, {"--code-middle", 0}, {"--market", 0}, {"--extra-number", 0}};
    struct TextOption {
        const char* name;
        std::optional<std::string> value;
    };
    TextOption texts[] = {{"--symbol", {}}, {"--extra-code", {}},   {"--group", {}},     {"--isin", {}},
                          {"--currency", {}}, {"--credit-class", {}}, {"--underlying", {}}};

    OptionReader reader(arguments);
    while (!reader.done()) {
        Option option = reader.next();
        bool known = false;
        for (IntOption& number : numbers) {
            if (option.name != number.name) continue;
            known = true;
            std::optional<OptionValue> value = reader.value(option);
            if (!value) return UsageError(command, option.name + " needs a number");
            if (!ParseInt32(value->text, number.value))
                return UsageError(command, option.name + " must be a 32-bit number, not '" + value->text + "'");
        }
        for (TextOption& text : texts) {
            if (option.name != text.name) continue;
            known = true;
            std::optional<OptionValue> value = reader.value(option);
            if (!value) return UsageError(command, option.name + " needs a value");
            text.value = value->text;
        }
        if (!known) return UsageError(command, "unexpected argument '" + reader.current() + "'");
    }
    auto text = [&](int i) { return texts[i].value ? texts[i].value->c_str() : nullptr; };
    int code = library.pilotQuodrix(numbers[0].value, numbers[1].value, numbers[2].value, numbers[3].value, text(0),
                                    text(1), text(2), text(3), text(4), text(5), text(6));
    DWORD threadError = GetLastError();
    std::string done = "pilot request sent: place " + std::to_string(numbers[0].value) + ", market " +
                       std::to_string(numbers[2].value);
    for (const TextOption& option : texts) {
        if (option.value) done += std::string(", ") + (option.name + 2) + " " + *option.value;
    }
    return Report(command, code, static_cast<DWORD>(library.getSystemLastError()), threadError, done);
}

int RunStop(const Exports& library, const Arguments& arguments) {
    if (arguments.size() != 0) return UsageError("stop", "takes no arguments");
    int code = library.stopDaemon();
    DWORD threadError = GetLastError();
    return Report("stop", code, static_cast<DWORD>(library.getSystemLastError()), threadError,
                  "stop request sent: the daemon has closed its terminal connection and is exiting");
}

int RunLastError(const Exports& library, const Arguments& arguments) {
    const char* command = "last-error";
    if (arguments.size() > 1) return UsageError(command, "too many arguments");
    std::optional<DWORD> explain;
    if (arguments.size() == 1) {
        std::int32_t number = 0;
        if (!ParseInt32(arguments[0], number))
            return UsageError(command, "CODE must be a number, not '" + arguments[0] + "'");
        explain = static_cast<DWORD>(number);
    }
    int value = library.getSystemLastError();
    std::printf("last system error of this process: %d%s\n", value, value == 0 ? " (none)" : "");
    if (explain) std::printf("%s\n", DescribeSystemError(*explain).c_str());
    return value;
}

}  // namespace

int RunClientCommand(const char* command, int argc, char** argv) {
    Arguments arguments(argc, argv);
    if (WantsHelp(arguments)) {
        const CommandHelp* help = FindHelp(command);
        if (help == nullptr) return UsageError(command, "unknown command");
        std::printf("usage: %s\n\n%s\n", help->usage, help->details);
        return 0;
    }

    std::string libraryPath = ProgramDir() + "\\" + kLibraryName;
    Library library;
    if (!library.load(libraryPath)) {
        std::fprintf(stderr, "qxpilot: cannot load %s: %s\n", libraryPath.c_str(),
                     DescribeSystemError(GetLastError()).c_str());
        return kExitNoLibrary;
    }
    Exports exports;
    exports.startDaemon = library.get<IQXP_StartDaemon_Fn>("StartDaemon");
    exports.startDaemonUtf8 = library.get<IQXP_StartDaemon_Utf8_Fn>("StartDaemon_Utf8");
    exports.stopDaemon = library.get<IQXP_StopDaemon_Fn>("StopDaemon");
    exports.startQuodrix = library.get<IQXP_StartQuodrix_Fn>("StartQuodrix");
    exports.startQuodrixUtf8 = library.get<IQXP_StartQuodrix_Utf8_Fn>("StartQuodrix_Utf8");
    exports.addPilotingModule = library.get<IQXP_AddPilotingModule_Fn>("AddPilotingModule");
    exports.pilotQuodrix = library.get<IQXP_PilotQuodrix_Fn>("PilotQuodrix");
    exports.getSystemLastError = library.get<IQXP_GetSystemLastError_Fn>("GetSystemLastError");
    if (!exports.startDaemon || !exports.startDaemonUtf8 || !exports.stopDaemon || !exports.startQuodrix ||
        !exports.startQuodrixUtf8 || !exports.addPilotingModule || !exports.pilotQuodrix ||
        !exports.getSystemLastError) {
        std::fprintf(stderr, "qxpilot: %s lacks one of its eight exports (wrong or damaged file?)\n",
                     libraryPath.c_str());
        return kExitNoLibrary;
    }

    if (std::strcmp(command, "start-daemon") == 0) return RunStartDaemon(exports, arguments);
    if (std::strcmp(command, "start") == 0) return RunStart(exports, arguments);
    if (std::strcmp(command, "add-module") == 0) return RunAddModule(exports, arguments);
    if (std::strcmp(command, "pilot") == 0) return RunPilot(exports, arguments);
    if (std::strcmp(command, "stop") == 0) return RunStop(exports, arguments);
    if (std::strcmp(command, "last-error") == 0) return RunLastError(exports, arguments);
    return UsageError(command, "unknown command");
}
