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

// --fail CALL[:KEY][@N]=RESULT
struct FaultSpec {
    std::string call;      // "IWindows.Add", or "*.Pilot" for the Pilot of every kind
    std::string key;       // group or window key the fault is limited to; empty = any
    unsigned nth = 0;      // only the Nth matching call (1-based); 0 = every matching call
    bool null = false;     // succeed with a null interface (or a null array) instead of failing
    HRESULT hr = S_OK;
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
    std::string signal;                     // --signal closing|events|quit
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

std::string VeloHelpText();

// The fault switches at run time: counts the calls each rule matches, thread-safe.
class FaultTable {
public:
    explicit FaultTable(std::vector<FaultSpec> faults = {}) : m_faults(std::move(faults)), m_counts(m_faults.size()) {}
    FaultTable(const FaultTable&) = delete;
    FaultTable& operator=(const FaultTable&) = delete;

    // The first rule that fires for this call on the object of that key, counting the call for every rule
    // that matches it.
    std::optional<FaultSpec> check(const std::string& call, const std::string& key);

private:
    std::mutex m_lock;
    std::vector<FaultSpec> m_faults;
    std::vector<unsigned> m_counts;
};

}  // namespace velo
