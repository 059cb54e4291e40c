#include "tools/velo/VeloOptions.h"

#include "tools/velo/VeloText.h"

#include <algorithm>
#include <cstring>

namespace velo {

namespace {

const char* const kKindNames[] = {"Vista", "FullQuote", "OrderBook", "TimeSales", "News", "Chart"};

bool EqualsNoCase(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && _stricmp(a.c_str(), b) == 0;
}

bool IsSwitch(const std::string& argument, const char* name) {
    // COM starts servers with "-Embedding"; people type "/RegServer" or "-regserver".
    return argument.size() > 1 && (argument[0] == '/' || argument[0] == '-') &&
           EqualsNoCase(argument.substr(1), name);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::optional<HRESULT> ParseHresult(const std::string& text) {
    auto value = ParseInteger(text);
    if (!value) return std::nullopt;
    return static_cast<HRESULT>(static_cast<std::uint32_t>(*value));
}

bool KnownCall(const std::string& call) {
    const auto& calls = FaultableCalls();
    return std::any_of(calls.begin(), calls.end(), [&](const std::string& known) { return CallMatches(call, known); });
}

// CALL[:KEY][@N] of a rule; the option's name goes into the error texts.
std::string ParseCallPattern(const std::string& option, std::string left, FaultSpec& fault) {
    auto at = left.rfind('@');
    if (at != std::string::npos) {
        auto nth = ParseInteger(left.substr(at + 1));
        if (!nth || *nth < 1) return option + ": bad call number in " + left;
        fault.nth = static_cast<unsigned>(*nth);
        left.erase(at);
    }
    auto colon = left.find(':');
    if (colon != std::string::npos) {
        fault.key = left.substr(colon + 1);
        left.erase(colon);
    }
    fault.call = left;
    if (!KnownCall(fault.call)) return option + ": unknown call " + fault.call + " (see --help)";
    return {};
}

// CALL[:KEY][@N]=RESULT
std::string ParseFault(const std::string& text, FaultSpec& fault) {
    auto equals = text.rfind('=');
    if (equals == std::string::npos) return "--fail needs CALL=RESULT: " + text;
    std::string result = text.substr(equals + 1);
    std::string error = ParseCallPattern("--fail", text.substr(0, equals), fault);
    if (!error.empty()) return error;
    if (EqualsNoCase(result, "null")) {
        fault.null = true;
        fault.hr = S_OK;
        return {};
    }
    auto hr = ParseHresult(result);
    if (!hr) return "--fail: bad HRESULT " + result;
    fault.hr = *hr;
    return {};
}

// CALL[:KEY][@N]=MS
std::string ParseDelay(const std::string& text, FaultSpec& fault) {
    fault.action = FaultAction::Delay;
    auto equals = text.rfind('=');
    if (equals == std::string::npos) return "--delay needs CALL=MS: " + text;
    auto ms = ParseInteger(text.substr(equals + 1));
    if (!ms || *ms < 0 || *ms > 3600000) return "--delay: bad milliseconds in " + text;
    fault.delayMs = static_cast<DWORD>(*ms);
    return ParseCallPattern("--delay", text.substr(0, equals), fault);
}

// CALL[:KEY][@N]
std::string ParseHang(const std::string& text, FaultSpec& fault) {
    fault.action = FaultAction::Hang;
    return ParseCallPattern("--hang", text, fault);
}

// LIST:ROW:COLUMN=TYPE
std::string ParseListCell(const std::string& text, ListCellRule& cell) {
    const std::string usage = "--list-cell takes IGroups|IWindows:ROW:COLUMN=empty|null|int: ";
    auto equals = text.find('=');
    if (equals == std::string::npos) return usage + text;
    auto parts = Split(text.substr(0, equals), ':');
    if (parts.size() != 3 || (parts[0] != "IGroups" && parts[0] != "IWindows")) return usage + text;
    auto row = ParseInteger(parts[1]);
    auto column = ParseInteger(parts[2]);
    if (!row || !column || *row < 0 || *column < 0 || *column > 2) return usage + text;
    std::string type = text.substr(equals + 1);
    if (EqualsNoCase(type, "empty")) cell.type = CellType::Empty;
    else if (EqualsNoCase(type, "null")) cell.type = CellType::Null;
    else if (EqualsNoCase(type, "int")) cell.type = CellType::Int;
    else return usage + text;
    cell.list = parts[0];
    cell.row = static_cast<long>(*row);
    cell.column = static_cast<long>(*column);
    return {};
}

std::string ParseGroup(const std::string& text, GroupSpec& group) {
    auto equals = text.find('=');
    group.name = text.substr(0, equals);
    if (equals == std::string::npos || equals + 1 == text.size()) return {};
    for (const auto& kindText : Split(text.substr(equals + 1), ',')) {
        auto kind = KindFromText(kindText);
        if (!kind) return "--group: unknown window kind '" + kindText + "'";
        group.kinds.push_back(*kind);
    }
    return {};
}

}  // namespace

std::optional<long> KindFromText(const std::string& text) {
    for (long i = 0; i < 6; ++i)
        if (EqualsNoCase(text, kKindNames[i])) return i + 1;
    auto number = ParseInteger(text);
    if (number) return static_cast<long>(*number);
    return std::nullopt;
}

std::string KindName(long kind) {
    if (kind >= 1 && kind <= 6) return kKindNames[kind - 1];
    return "Kind" + std::to_string(kind);
}

bool CallMatches(const std::string& pattern, const std::string& call) {
    if (pattern == "*") return true;
    if (pattern.rfind("*.", 0) == 0) {
        std::string method = pattern.substr(1);
        return call.size() > method.size() && call.compare(call.size() - method.size(), method.size(), method) == 0;
    }
    return pattern == call;
}

const std::vector<std::string>& FaultableCalls() {
    static const std::vector<std::string> calls = {
        "IClassFactory.CreateInstance",
        "IApplication.get_Connection", "IApplication.get_Groups", "IApplication.get_Active",
        "IApplication.put_Active",
        "IConnection.Init", "IConnection.get_Connected", "IConnection.get_Mode", "IConnection.put_Mode",
        "IGroups.get_Count", "IGroups.get_ActiveKey", "IGroups.get_List", "IGroups.get_Item", "IGroups.Find",
        "IGroups.Add",
        "IGroup.get_Name", "IGroup.get_Key", "IGroup.get_IsActive", "IGroup.get_Windows", "IGroup.Activate",
        "IWindows.get_Count", "IWindows.get_GroupKey", "IWindows.get_List", "IWindows.get_Item", "IWindows.Add",
        "IWindow.get_Kind", "IWindow.get_Key", "IWindow.get_GroupKey", "IWindow.get_Caption",
        "IWindow.get_PilotCount",
        "IVistaWindow.Pilot", "IFullQuoteWindow.Pilot", "IOrderBookWindow.Pilot", "ITimeSalesWindow.Pilot",
        "INewsWindow.Pilot", "IChartWindow.Pilot", "ITimeSalesWindow.get_Value", "ITimeSalesWindow.get_Rows",
        "IConnectionPointContainer.FindConnectionPoint", "IConnectionPoint.Advise", "IConnectionPoint.Unadvise",
    };
    return calls;
}

ParsedOptions ParseVeloOptions(const std::vector<std::string>& arguments) {
    ParsedOptions parsed;
    VeloOptions& o = parsed.options;
    auto fail = [&](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (IsSwitch(argument, "RegServer")) {
            o.command = VeloCommand::RegServer;
            continue;
        }
        if (IsSwitch(argument, "UnregServer")) {
            o.command = VeloCommand::UnregServer;
            continue;
        }
        if (IsSwitch(argument, "Embedding")) {
            o.embedding = true;
            continue;
        }
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            o.command = VeloCommand::Help;
            continue;
        }
        if (argument.rfind("--", 0) != 0) return fail("unknown argument '" + argument + "' (see --help)");

        // --name=value or --name value
        std::string name = argument;
        std::optional<std::string> value;
        auto equals = argument.find('=');
        if (equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < arguments.size()) return arguments[++i];
            return std::nullopt;
        };
        auto record = [&](const std::string& v) {
            o.serverArguments.push_back(name);
            o.serverArguments.push_back(v);
        };

        if (name == "--journal" || name == "--group" || name == "--fail" || name == "--bare-kind" ||
            name == "--bad-list" || name == "--delay" || name == "--hang" || name == "--list-cell") {
            auto v = takeValue();
            if (!v) return fail(name + " needs a value");
            if (name == "--journal") {
                if (v->empty()) return fail("--journal needs a path");
                o.journal = *v;
            } else if (name == "--group") {
                GroupSpec group;
                std::string error = ParseGroup(*v, group);
                if (!error.empty()) return fail(error);
                o.groups.push_back(std::move(group));
            } else if (name == "--fail" || name == "--delay" || name == "--hang") {
                FaultSpec fault;
                std::string error = name == "--fail"    ? ParseFault(*v, fault)
                                    : name == "--delay" ? ParseDelay(*v, fault)
                                                        : ParseHang(*v, fault);
                if (!error.empty()) return fail(error);
                o.faults.push_back(std::move(fault));
            } else if (name == "--list-cell") {
                ListCellRule cell;
                std::string error = ParseListCell(*v, cell);
                if (!error.empty()) return fail(error);
                o.listCells.push_back(cell);
            } else if (name == "--bare-kind") {
                auto kind = KindFromText(*v);
                if (!kind) return fail("--bare-kind: unknown window kind '" + *v + "'");
                o.bareKinds.insert(*kind);
            } else {
                if (*v != "IGroups" && *v != "IWindows") return fail("--bad-list takes IGroups or IWindows");
                o.badLists.insert(*v);
            }
            record(*v);
        } else if (name == "--refuse-create") {
            FaultSpec fault;
            fault.call = "IClassFactory.CreateInstance";
            fault.hr = E_FAIL;
            if (value) {
                auto hr = ParseHresult(*value);
                if (!hr) return fail("--refuse-create: bad HRESULT " + *value);
                fault.hr = *hr;
            }
            o.faults.push_back(fault);
            o.serverArguments.push_back(argument);
        } else if (name == "--not-connected" || name == "--inactive" || name == "--no-com") {
            if (value) return fail(name + " takes no value");
            if (name == "--not-connected") o.notConnected = true;
            else if (name == "--inactive") o.inactive = true;
            else o.noCom = true;
            o.serverArguments.push_back(argument);
        } else if (name == "--signal") {
            auto v = takeValue();
            if (!v || (*v != "closing" && *v != "events" && *v != "quit" && *v != "release"))
                return fail("--signal takes closing, events, quit or release");
            o.command = VeloCommand::Signal;
            o.signal = *v;
        } else if (name == "--pid") {
            auto v = takeValue();
            auto pid = v ? ParseInteger(*v) : std::nullopt;
            if (!pid || *pid <= 0) return fail("--pid needs a process id");
            o.signalPid = static_cast<DWORD>(*pid);
        } else {
            return fail("unknown option '" + name + "' (see --help)");
        }
    }
    return parsed;
}

bool FaultTable::fires(std::size_t rule, const std::string& call, const std::string& key) {
    const FaultSpec& fault = m_faults[rule];
    if (!CallMatches(fault.call, call) || (!fault.key.empty() && fault.key != key)) return false;
    unsigned count = ++m_counts[rule];
    return fault.nth == 0 || fault.nth == count;
}

std::optional<FaultSpec> FaultTable::check(const std::string& call, const std::string& key) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::optional<FaultSpec> fired;
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        if (m_faults[i].action != FaultAction::Fail) continue;
        if (fires(i, call, key) && !fired) fired = m_faults[i];
    }
    return fired;
}

FaultTable::Pacing FaultTable::pacing(const std::string& call, const std::string& key) {
    std::lock_guard<std::mutex> hold(m_lock);
    Pacing pacing;
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        const FaultSpec& fault = m_faults[i];
        if (fault.action == FaultAction::Fail || !fires(i, call, key)) continue;
        if (fault.action == FaultAction::Delay) pacing.delayMs += fault.delayMs;
        else pacing.hang = true;
    }
    return pacing;
}

std::string VeloHelpText() {
    std::string text = R"HELP(Velo.exe - a stand-in for the Quodrix terminal's COM automation server (class Application,
type library QuodrixLib), for developing and testing without the terminal.

usage:
  Velo.exe [options]               run the terminal by hand (class object registered for every client)
  Velo.exe -Embedding [options]    how COM starts it (the registered options come first)
  Velo.exe /RegServer [options]    register for the current user: the class {0339D2E2-CDDD-11DE-B311-
                                   005056C00008} with LocalServer32 = this program and the options given
                                   here, the type library (embedded in Velo.exe) and its interfaces
                                   (type-library marshaler). Registering again replaces the options.
  Velo.exe /UnregServer            remove all of that
  Velo.exe --signal WHAT [--pid N] pull a trigger of a running Velo.exe (default: the first one found):
                                   closing  fire ITFrameWndEvents::FrameClosing to every advised sink
                                   events   fire the six other event methods, in vtable order
                                   quit     fire FrameClosing, then exit (as when the console is closed);
                                            calls held by --hang are let go first
                                   release  let go of every call held by --hang; no call hangs after it
  Velo.exe --help                  this text

options (also taken by /RegServer, which records them for COM-started instances):
  --journal PATH        append one line per call that changes or pilots something to PATH
                        (default: Velo.journal beside Velo.exe)
  --group NAME[=KINDS]  start with a window group NAME holding windows of the given kinds, in order;
                        KINDS is a comma list of Vista, FullQuote, OrderBook, TimeSales, News, Chart
                        (any case) or numbers (0 or 9 give windows of a kind the daemon does not know).
                        Repeatable; the same NAME twice gives two groups. The name ends at the first '='.
  --fail CALL[:KEY][@N]=RESULT
                        make a call fail: RESULT is an HRESULT (0x80004005, or decimal), or "null" for
                        success with a null interface (or a null array). CALL is Interface.Method as
                        listed below, or *.Method for that method on every interface (*.Pilot).
                        :KEY limits it to one object: the group key for IGroup and IWindows calls, the
                        window key for IWindow and kind-interface calls, the key asked for in get_Item,
                        the group name in IGroups.Add. @N: only the Nth such call (counted from 1).
                        Repeatable; the first matching rule wins.
  --delay CALL[:KEY][@N]=MS
                        answer the matching calls MS milliseconds late (a slow terminal). CALL, KEY and
                        @N as for --fail; CALL may also be * for every call listed below. Delays of
                        several matching rules add up; a --fail rule on the same call still applies.
  --hang CALL[:KEY][@N] do not answer the matching calls until told to go on (--signal release, or
                        quit): a terminal stuck in a call. The journal gets a Velo.Hang line when a
                        call starts hanging; the call's own line follows once it answers.
  --list-cell LIST:ROW:COLUMN=TYPE
                        that cell of IGroups::get_List (LIST IGroups) or of every IWindows::get_List
                        (LIST IWindows) holds no text: TYPE empty (VT_EMPTY), null (VT_NULL) or int
                        (VT_I4 7). Rows count from 0, columns 0 to 2. Repeatable.
  --refuse-create[=HR]  the class object refuses to create the application (default 0x80004005)
  --not-connected       IConnection::get_Connected answers 0 (the terminal has no server connection)
  --inactive            IApplication::get_Active answers 0 until put_Active sets it
  --bare-kind KIND      windows of that kind do not answer QueryInterface for their kind interface
  --bad-list IGroups|IWindows
                        get_List answers a 2-D array of BSTR instead of VARIANT
  --no-com              register no class object: a process that only looks like the terminal

keys: groups are G1, G2, ... and windows G1W1, G1W2, ... in order of creation.
get_List: a 2-D SAFEARRAY of VARIANT, one row per object, index (row, column): groups (i,0) name,
(i,1) window count, (i,2) key; windows (i,0) kind name, (i,1) kind, (i,2) key.

journal: UTF-8, one line per call, CR LF, written and flushed whole: CALL<TAB>name=value<TAB>...
values escape \\ \t \r \n and control characters (\xHH). Every line but Velo.Start and Velo.Hang ends
with hr=0x........
  Velo.Start                         pid embedding nocom args
  Velo.Hang                          call key       (a call held by --hang, before it answers)
  Velo.Exit                          pid reason
  IClassFactory.CreateInstance       hr
  IApplication.put_Active            active hr
  IConnection.put_Mode               mode hr
  IConnection.Init                   address port user password options hr
  IGroups.Add                        name flags key hr
  IWindows.Add                       group kind settings key hr
  IGroup.Activate                    group name hr
  I<Kind>Window.Pilot                group window kind value hr    (INewsWindow: topic before value)
  IConnectionPoint.Advise            cookie hr
  IConnectionPoint.Unadvise          cookie hr
  ITFrameWndEvents.<Method>          reason (FrameClosing only) sinks failed hr
settings: "RxC:" then rows separated by ';', cells by ',', each cell TYPE:VALUE (INT:1,BSTR:Piloted),
',' and ';' in values escaped as \x2C and \x3B; "null" for no array, "bad(vt=N,dims=D)" for another shape.

)HELP";
    text += "fault calls (--fail, --delay, --hang):\n";
    std::string line(1, ' ');
    for (const auto& call : FaultableCalls()) {
        if (line.size() + call.size() + 1 > 100) {
            text += line;
            text += '\n';
            line.assign(1, ' ');
        }
        line += ' ';
        line += call;
    }
    text += line;
    text += "\n\n";
    text += R"HELP(triggers for programs: auto-reset events "VeloSim_FrameClosing_<pid>", "VeloSim_OtherEvents_<pid>" and
"VeloSim_Quit_<pid>", and the manual-reset event "VeloSim_Release_<pid>" (what --signal sets). Velo.exe runs until quit, Ctrl+C or its console closes,
each firing FrameClosing first; it does not exit when its last client lets go.

exit status: 0 done, 1 failure (registration, COM start-up, no Velo.exe to signal), 2 bad arguments.
)HELP";
    return text;
}

}  // namespace velo
