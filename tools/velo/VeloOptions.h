// Command line of the terminal simulator, window-kind names and the fault switches. Pure logic.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velo {

// Window-kind name ("Vista", "FullQuote", ... case-insensitive) or a number; nothing otherwise.
std::optional<long> KindFromText(const std::string& text);
// "Vista" ... "Chart" for 1 to 6, "Kind<n>" for any other code.
std::string KindName(long kind);

struct GroupSpec {
    std::string name;
    std::vector<long> kinds;
};

// What a rule does to the calls it matches.
enum class FaultAction {
    Fail,   // --fail CALL[:KEY][@N]=RESULT: answer RESULT at once
    Delay,  // --delay CALL[:KEY][@N]=MS: answer after MS milliseconds
    Hang,   // --hang CALL[:KEY][@N]: answer only once released (--signal release, or quit)
};

struct FaultSpec {
    FaultAction action = FaultAction::Fail;
    std::string call;      // "IWindows.Add", "*.Pilot" for the Pilot of every kind, "*" for every call
    std::string key;       // group or window key the fault is limited to; empty = any
    unsigned nth = 0;      // only the Nth matching call (1-based); 0 = every matching call
    bool null = false;     // succeed with a null interface (or a null array) instead of failing
    HRESULT hr = S_OK;
    DWORD delayMs = 0;     // FaultAction::Delay
};

// --list-cell LIST:ROW:COLUMN=TYPE: a cell of the groups' or windows' list that holds no text.
enum class CellType { Empty, Null, Int };
struct ListCellRule {
    std::string list;  // "IGroups" or "IWindows" (every group's window list)
    long row = 0;
    long column = 0;
    CellType type = CellType::Empty;
};

enum class VeloCommand { Run, RegServer, UnregServer, Signal, Help };

struct VeloOptions {
    VeloCommand command = VeloCommand::Run;
    bool embedding = false;                 // started by COM
    bool noCom = false;                     // a process that only looks like the terminal
    std::string journal;                    // empty: "Velo.journal" beside the program
    std::vector<GroupSpec> groups;
    std::vector<FaultSpec> faults;
    bool notConnected = false;
    bool inactive = false;
    std::optional<HRESULT> refuseCreate;
    std::set<long> bareKinds;               // windows of these kinds lack their kind interface
    std::set<std::string> badLists;         // "IGroups" / "IWindows": get_List answers an array of BSTR
    std::vector<ListCellRule> listCells;    // cells of the lists that hold no text
    std::string signal;                     // --signal closing|events|quit|release
    DWORD signalPid = 0;                    // --pid, 0 = the running Velo.exe
    // Every argument that configures a server, in order, as given: recorded by /RegServer.
    std::vector<std::string> serverArguments;
};

struct ParsedOptions {
    VeloOptions options;
    std::string error;  // empty when the command line is valid
};

ParsedOptions ParseVeloOptions(const std::vector<std::string>& arguments);

// The calls a fault can name (Interface.Method).
const std::vector<std::string>& FaultableCalls();
// Whether a rule's CALL ("IWindows.Add", "*.Pilot", "*") names `call`.
bool CallMatches(const std::string& pattern, const std::string& call);

std::string VeloHelpText();

// The fault switches at run time: counts the calls each rule matches, thread-safe.
class FaultTable {
public:
    explicit FaultTable(std::vector<FaultSpec> faults = {}) : m_faults(std::move(faults)), m_counts(m_faults.size()) {}
    FaultTable(const FaultTable&) = delete;
    FaultTable& operator=(const FaultTable&) = delete;

    // The first --fail rule that fires for this call on the object of that key, counting the call for every
    // --fail rule that matches it.
    std::optional<FaultSpec> check(const std::string& call, const std::string& key);

    // How the --delay and --hang rules pace this call (each matching rule counts it).
    struct Pacing {
        DWORD delayMs = 0;  // the sum of the delays that fire
        bool hang = false;
    };
    Pacing pacing(const std::string& call, const std::string& key);

private:
    // Counts the call for the rule and tells whether the rule fires on it.
    bool fires(std::size_t rule, const std::string& call, const std::string& key);

    std::mutex m_lock;
    std::vector<FaultSpec> m_faults;
    std::vector<unsigned> m_counts;
};

}  // namespace velo
