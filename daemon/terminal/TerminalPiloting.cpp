#include "daemon/terminal/TerminalPiloting.h"

#include "daemon/log/Logger.h"
#include "daemon/proxy/ComError.h"
#include "daemon/proxy/QXLink.h"
#include "daemon/terminal/AutomationData.h"
#include "daemon/terminal/PilotingText.h"

#include <set>

using ComHelper::Bstr;
using ComHelper::ComPtr;

namespace {

// A collection's list with its row count, read in that order.
template <class Collection>
long ReadList(Collection* collection, const IID& iid, SafeArray& list) {
    CheckCom(collection->get_List(list.put()), iid, collection);
    CheckTerminalList(list, iid);
    LONG count = 0;
    CheckCom(collection->get_Count(&count), iid, collection);
    return count;
}

ComPtr<IWindow> WindowOfRow(IWindows* windows, const SafeArray& list, long row) {
    Variant key;
    ReadListCell(list, row, 2, IID_IWindows, key);
    ComPtr<IWindow> window;
    CheckComResult(windows->get_Item(V_BSTR(key.get()), window.put()), window, IID_IWindows, windows);
    return window;
}

long KindOf(IWindow* window) {
    LONG kind = 0;
    CheckCom(window->get_Kind(&kind), IID_IWindow, window);
    return kind;
}

// Queries the window for its kind's interface and makes the kind's Pilot call; nothing is sent to a window
// that lacks the interface.
template <class KindWindow, class Call>
void PilotThrough(IWindow* window, const IID& iid, Call call) {
    ComPtr<KindWindow> specific;
    const HRESULT asked = window->QueryInterface(iid, specific.putVoid());
    NoteProxyProgress();
    if (FAILED(asked) || !specific) return;
    CheckCom(call(specific.get()), iid, specific.get());
}

// True when the terminal answers that it can be piloted; the calls' failures are COM errors.
bool TerminalConnected(IApplication* app) {
    if (!app) return false;
    ComPtr<IConnection> connection;
    CheckComResult(app->get_Connection(connection.put()), connection, IID_IApplication, app);
    VARIANT_BOOL connected = VARIANT_FALSE;
    CheckCom(connection->get_Connected(&connected), IID_IConnection, connection.get());
    return connected != VARIANT_FALSE;
}

void PilotModule(IApplication* app, const std::string& moduleName, const WindowKindSet& kinds,
                 const std::string& value) {
    const bool allWindows = IsAllWindowsModule(kinds);
    ComPtr<IGroup> group = FindGroup(app, moduleName, !allWindows);
    if (!group) return;
    CheckCom(group->Activate(), IID_IGroup, group.get());
    ComPtr<IWindows> windows;
    CheckComResult(group->get_Windows(windows.put()), windows, IID_IGroup, group.get());
    CreateMissingWindows(windows.get(), kinds);

    // Read after the creation, so that the new windows are piloted in this pass.
    SafeArray list;
    const long count = ReadList(windows.get(), IID_IWindows, list);
    for (long row = 0; row < count; ++row) {
        ComPtr<IWindow> window = WindowOfRow(windows.get(), list, row);
        if (!allWindows && !SelectsWindowKind(kinds, KindOf(window.get()))) continue;
        try {
            PilotWindow(window.get(), value);
            theLogger.trace(5, "Value sent to quodrix : [%s]", value.c_str());
        } catch (const ComError& error) {
            theLogger.message(LogError,
                              "Piloting Quodrix by Symbol (%s): a COM Exception occured while pilotinga service (%s), "
                              "continuing to pilot other services",
                              value.c_str(), error.text().c_str());
        }
    }
}

}  // namespace

ComPtr<IGroup> FindGroup(IApplication* app, const std::string& moduleName, bool mayCreate) {
    ComPtr<IGroups> groups;
    CheckComResult(app->get_Groups(groups.put()), groups, IID_IApplication, app);
    SafeArray list;
    const long count = ReadList(groups.get(), IID_IGroups, list);

    ComPtr<IGroup> group;
    for (long row = 0; row < count; ++row) {
        Variant name;
        ReadListCell(list, row, 0, IID_IGroups, name);
        if (GroupNameText(CellText(name)) != moduleName) continue;
        Variant key;
        ReadListCell(list, row, 2, IID_IGroups, key);
        CheckComResult(groups->get_Item(V_BSTR(key.get()), group.put()), group, IID_IGroups, groups.get());
    }
    if (!group && mayCreate) {
        Bstr name = BstrFromAnsi(moduleName, IID_IGroups);
        CheckComResult(groups->Add(name.get(), 0, group.put()), group, IID_IGroups, groups.get());
    }
    return group;
}

void CreateMissingWindows(IWindows* windows, const WindowKindSet& kinds) {
    if (IsAllWindowsModule(kinds)) return;
    SafeArray list;
    const long count = ReadList(windows, IID_IWindows, list);
    std::set<long> present;
    for (long row = 0; row < count; ++row) present.insert(KindOf(WindowOfRow(windows, list, row).get()));

    for (std::int32_t kind : MissingWindowKinds(kinds, present)) {
        SafeArray properties = BuildWindowProperties();
        ComPtr<IWindow> created;
        CheckCom(windows->Add(kind, properties.get(), created.put()), IID_IWindows, windows);
    }
}

bool PilotWindow(IWindow* window, const std::string& value) {
    Bstr text = BstrFromWide(PilotingWideText(value), IID_IWindow);
    BSTR v = text.get();
    switch (KindOf(window)) {
    case 1:
        PilotThrough<IVistaWindow>(window, IID_IVistaWindow, [v](IVistaWindow* w) { return w->Pilot(v); });
        return true;
    case 2:
        PilotThrough<IFullQuoteWindow>(window, IID_IFullQuoteWindow, [v](IFullQuoteWindow* w) { return w->Pilot(v); });
        return true;
    case 3:
        PilotThrough<IOrderBookWindow>(window, IID_IOrderBookWindow, [v](IOrderBookWindow* w) { return w->Pilot(v); });
        return true;
    case 4:
        PilotThrough<ITimeSalesWindow>(window, IID_ITimeSalesWindow, [v](ITimeSalesWindow* w) { return w->Pilot(v); });
        return true;
    case 5: {
        Bstr topic = BstrFromWide(std::wstring(), IID_INewsWindow);
        BSTR t = topic.get();
        PilotThrough<INewsWindow>(window, IID_INewsWindow, [t, v](INewsWindow* w) { return w->Pilot(t, v); });
        return true;
    }
    case 6:
        PilotThrough<IChartWindow>(window, IID_IChartWindow, [v](IChartWindow* w) { return w->Pilot(v); });
        return true;
    default:
        return false;
    }
}

bool CQXLink::Pilot(const std::string& value, const ModuleRegistry& modules) {
    try {
        if (!TerminalConnected(m_app.get())) {
            theLogger.message(LogError, "Quodrix found not connected, piloting request will not be sent");
            return false;
        }
        for (const auto& [moduleName, kinds] : modules) PilotModule(m_app.get(), moduleName, kinds, value);
    } catch (const ComError& error) {
        theLogger.message(LogError, "Piloting Quodrix by Symbol (%s): a COM Exception occured (%s)", value.c_str(),
                          error.text().c_str());
        ++reconnectCount;
        theLogger.message(LogError, "RPC Error, trying to disconnect from Quodrix and connect again...");
        PostThreadMessageA(theProxyData.threadId(), QXPROXY_MSG_RECONNECT, 0, 0);
    }
    return true;
}
