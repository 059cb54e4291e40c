#include "daemon/proxy/QXLink.h"

#include "daemon/log/Logger.h"
#include "daemon/proxy/ComError.h"

#include <tlhelp32.h>

#include <cstring>
#include <utility>

using ComHelper::Bstr;
using ComHelper::ComPtr;

namespace {

constexpr long kConnectionMode = 162;
constexpr DWORD kLaunchWaitMs = 10000;

class SnapshotHandle {
public:
    explicit SnapshotHandle(HANDLE handle) noexcept : m_handle(handle) {}
    SnapshotHandle(const SnapshotHandle&) = delete;
    SnapshotHandle& operator=(const SnapshotHandle&) = delete;
    ~SnapshotHandle() {
        if (valid()) CloseHandle(m_handle);
    }
    bool valid() const noexcept { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const noexcept { return m_handle; }

private:
    HANDLE m_handle;
};

// A BSTR of `text` read in the ANSI code page; a failed allocation is the COM error E_OUTOFMEMORY of `iid`.
Bstr AnsiBstr(const std::string& text, const IID& iid) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    Bstr result = Bstr::adopt(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!result.get()) throw ComError(E_OUTOFMEMORY, iid);
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.get(), length);
    return result;
}

ComPtr<IConnection> TerminalConnection(const ComPtr<IApplication>& app) {
    if (!app) throw ComError(E_POINTER, IID_IApplication);
    ComPtr<IConnection> connection;
    CheckComResult(app->get_Connection(connection.put()), connection, IID_IApplication, app.get());
    return connection;
}

}  // namespace

bool IsTerminalImageName(const char* imageName) noexcept {
    return imageName && std::strcmp(imageName, kTerminalImageName) == 0;
}

bool TerminalProcessRunning() {
    SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        if (IsTerminalImageName(entry.szExeFile)) return true;
    }
    return false;
}

CQXLink::~CQXLink() {
    try {
        Dispose();
    } catch (...) {
        // Only memory exhaustion gets here; what is still held is released below.
    }
    ReleaseSink();
    m_app = nullptr;
}

HRESULT CQXLink::CreateTerminalObject(ComPtr<IApplication>& target) {
    target = nullptr;
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(CLSID_Application, nullptr, 0x17, IID_IUnknown, object.putVoid());
    NoteProxyProgress();
    if (SUCCEEDED(hr)) {
        hr = OleRun(object.get());
        NoteProxyProgress();
        if (SUCCEEDED(hr)) hr = object->QueryInterface(IID_IApplication, target.putVoid());
        NoteProxyProgress();
    }
    if (FAILED(hr)) target = nullptr;
    return hr;
}

bool CQXLink::Connect(const std::string& address, std::int32_t port, bool forceStart) {
    HRESULT creation = S_FALSE;
    try {
        if (m_connected && m_app) {
            VARIANT_BOOL active = VARIANT_FALSE;
            CheckCom(m_app->get_Active(&active), IID_IApplication, m_app.get());
            if (active != VARIANT_FALSE) return true;
        }
        m_connected = false;
        terminalAvailable = false;

        if (TerminalProcessRunning()) {
            m_connected = true;
            terminalAvailable = true;
            creation = CreateTerminalObject(m_app);
            AdviseNewSink();
            reconnectCount = 0;
            return true;
        }

        theLogger.trace(0, "Quodrix is not connected...");
        creation = CreateTerminalObject(m_app);
        CheckCom(creation, IID_IApplication);
        theLogger.message(LogInfo, "Launch Quodrix at start up is checked, trying to connect Quodrix ... ");
        if (forceStart)
            theLogger.message(LogInfo,
                              "Force Start value set to (%d) as parameter for function Init (qxlink), trying to "
                              "connect Quodrix ...",
                              forceStart ? 1 : 0);

        {
            ComPtr<IConnection> connection = TerminalConnection(m_app);
            CheckCom(connection->put_Mode(kConnectionMode), IID_IConnection, connection.get());
        }
        Bstr serverAddress = AnsiBstr(address, IID_IConnection);
        Bstr user = AnsiBstr({}, IID_IConnection);
        Bstr password = AnsiBstr({}, IID_IConnection);
        Bstr options = AnsiBstr({}, IID_IConnection);
        {
            ComPtr<IConnection> connection = TerminalConnection(m_app);
            VARIANT_BOOL done = VARIANT_FALSE;
            CheckCom(connection->Init(serverAddress.get(), port, user.get(), password.get(), options.get(), &done),
                     IID_IConnection, connection.get());
        }
        // The terminal needs this long to reach its server before it can be used.
        Sleep(kLaunchWaitMs);
        theLogger.message(LogInfo, "IP Address defined in general settings : %s ", address.c_str());
        theLogger.message(LogInfo, "Port defined in general settings : %d ", static_cast<int>(port));

        m_connected = true;
        CheckCom(m_app->put_Active(VARIANT_TRUE), IID_IApplication, m_app.get());
        AdviseNewSink();
        terminalAvailable = true;
        if (creation != S_OK && forceStart) {
            theLogger.message(LogInfo, "connection to quodrix not established");
            startOnPilot = false;
        }
        reconnectCount = 0;
        return true;
    } catch (const ComError& error) {
        theLogger.message(LogWarning, "Cannot connect to Quodrix: a COM Exception occured (%s)", error.text().c_str());
        terminalAvailable = false;
        if (creation != S_OK) {
            theLogger.message(LogInfo, "connection to quodrix not established");
            startOnPilot = false;
        }
        return false;
    }
}

void CQXLink::AdviseNewSink() {
    ComPtr<CQuodrixEventHandler> sink = CQuodrixEventHandler::Create();
    ReleaseSink();
    m_sink = std::move(sink);
    m_sink->m_owner = this;
    // The sink's stubs stay ours until ReleaseSink disconnects them, whatever the terminal releases: the
    // terminal's last Release then never tears a stub down in the middle of an event call.
    CoLockObjectExternal(static_cast<ITFrameWndEvents*>(m_sink.get()), TRUE, FALSE);
    m_sink->Advise(m_app);
    NoteProxyProgress();
}

namespace {

// Event calls arrive on COM threads while the proxy thread may be letting go of the link or its listener:
// an event call holds this shared for as long as it uses them, and letting go holds it exclusively.
SRWLOCK theEventGate = SRWLOCK_INIT;

class EventGateHold {
public:
    explicit EventGateHold(bool exclusive) noexcept : m_exclusive(exclusive) {
        if (m_exclusive) AcquireSRWLockExclusive(&theEventGate);
        else AcquireSRWLockShared(&theEventGate);
    }
    ~EventGateHold() {
        if (m_exclusive) ReleaseSRWLockExclusive(&theEventGate);
        else ReleaseSRWLockShared(&theEventGate);
    }
    EventGateHold(const EventGateHold&) = delete;
    EventGateHold& operator=(const EventGateHold&) = delete;

private:
    bool m_exclusive;
};

}  // namespace

void CQXLink::ReleaseSink() noexcept {
    if (m_sink) {
        {
            EventGateHold hold(true);
            m_sink->m_owner = nullptr;
        }
        // Ends the terminal's connections to the sink, and the lock taken in AdviseNewSink, without waiting for
        // an event call that may still be running.
        CoDisconnectObject(static_cast<ITFrameWndEvents*>(m_sink.get()), 0);
    }
    m_sink = nullptr;
}

void CQXLink::DetachListener() noexcept {
    EventGateHold hold(true);
    m_events = nullptr;
}

void CQXLink::Dispose() {
    try {
        if (m_sink) {
            m_sink->Unadvise();
            NoteProxyProgress();
            ReleaseSink();
        }
        m_app = nullptr;
    } catch (const ComError& error) {
        theLogger.message(LogError, "Disposing Quodrix Connection: a COM Exception occured (%s)", error.text().c_str());
    }
}

ComPtr<CQuodrixEventHandler> CQuodrixEventHandler::Create() {
    return ComPtr<CQuodrixEventHandler>(new CQuodrixEventHandler);
}

HRESULT STDMETHODCALLTYPE CQuodrixEventHandler::FrameClosing(LONG) {
    EventGateHold hold(false);
    CQXLink* owner = m_owner.load();
    CQXLink::IEvents* events = owner ? owner->m_events.load() : nullptr;
    if (events) {
        theLogger.trace(0, "Quodrix is beeing closed");
        events->OnTerminalClosed();
    }
    return S_OK;
}
