// Helpers of the hardening tests: run size, seeds, figures, whole-line checks of the log, the client library
// as an application loads it, and process lists.
#pragma once

#include "client/IQXPilotSt.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <cstdint>
#include <random>
#include <type_traits>
#include <string>
#include <vector>

namespace qxtest {

// QX_HARDENING_FULL set (scripts/bench.sh --hardening): the full counts; otherwise the regular suite's.
bool FullRun();
int RunCount(int regular, int full);

// QX_HARDENING_SEED when set, so that a failing run can be replayed; otherwise a fresh one. Printed.
std::uint32_t HardeningSeed(const char* test);

// A figure for the closing table: "FIGURE<TAB>text" on standard output (collected by scripts/bench.sh).
void Figure(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// A line of the daemon's log as one writer call leaves it: a message, trace or plain prefix in its 18 columns.
bool IsWholeLogLine(const std::string& line);

// Every line of the log, split at every CR LF, bare LF and bare CR, must have the logger's layout; the only
// exception is the empty line behind each of the dump's two texts that end with a line feed of their own.
struct LogWholeness {
    std::size_t lines = 0;
    bool endsWithLineEnd = false;        // the file's last bytes are CR LF (or the file is empty)
    std::vector<std::string> torn;       // the first few lines without the layout
    std::size_t tornCount = 0;
};
LogWholeness CheckLogWholeness(const std::string& text);

// IQXPilotSt.dll loaded from beside the program with LoadLibrary, as applications do.
class ClientDll {
public:
    ClientDll();
    ~ClientDll();
    ClientDll(const ClientDll&) = delete;
    ClientDll& operator=(const ClientDll&) = delete;
    bool loaded() const { return m_module != nullptr && StartDaemon && StopDaemon && StartQuodrix &&
                                 AddPilotingModule && PilotQuodrix && GetSystemLastError; }

    IQXP_StartDaemon_Fn StartDaemon = nullptr;
    IQXP_StopDaemon_Fn StopDaemon = nullptr;
    IQXP_StartQuodrix_Fn StartQuodrix = nullptr;
    IQXP_AddPilotingModule_Fn AddPilotingModule = nullptr;
    IQXP_PilotQuodrix_Fn PilotQuodrix = nullptr;
    IQXP_GetSystemLastError_Fn GetSystemLastError = nullptr;

private:
    HMODULE m_module = nullptr;
};

// A Windows path for a test folder as the daemon's command line takes it.
inline std::string LogOption(const std::string& dir) { return "-log_path=" + dir; }

}  // namespace qxtest
