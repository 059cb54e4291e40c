#include "daemon/proxy/ProxyThread.h"

#include "daemon/log/Logger.h"
#include "daemon/proxy/ComError.h"
#include "daemon/proxy/ProxyProgress.h"
#include "daemon/proxy/QXProxy.h"

#include <objbase.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// An owned kernel handle.
class KernelHandle {
public:
    KernelHandle() noexcept = default;
    explicit KernelHandle(HANDLE handle) noexcept : m_handle(handle) {}
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    KernelHandle(KernelHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    ~KernelHandle() { reset(); }

    void reset() noexcept {
        if (HANDLE old = std::exchange(m_handle, nullptr)) CloseHandle(old);
    }
    HANDLE get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }

private:
    HANDLE m_handle = nullptr;
};

// The proxy threads as the main thread alone knows them. `current` is the last one started: stops wait on it
// even after the ending thread has cleared m_thread, and its handle is closed once no stop can wait on it.
// A thread that made no progress for kProxyStallMs while the main thread waited is given up on: it stays
// stuck in its call to the terminal, and nothing waits on it again.
struct ProxyThreadRecord {
    KernelHandle handle;
    DWORD id = 0;
};
ProxyThreadRecord current;
std::vector<ProxyThreadRecord> abandoned;

bool IsAbandoned(DWORD id) {
    return std::any_of(abandoned.begin(), abandoned.end(), [id](const ProxyThreadRecord& r) { return r.id == id; });
}

// Waits until the last proxy thread has truly ended, then lets go of its handle; gives up on a thread that
// stops making progress, saying what the daemon does without it.
void WaitForProxyThreadEnd(const char* goingOn) {
    if (!current.handle) return;
    if (!WaitWhileProgressing(current.handle.get())) {
        theLogger.message(LogError,
                          "The Quodrix proxy thread made no progress for %lu s, stuck in a call to Quodrix: %s",
                          static_cast<unsigned long>(kProxyStallMs / 1000), goingOn);
        abandoned.push_back(std::move(current));
        current = ProxyThreadRecord{};
        return;
    }
    current = ProxyThreadRecord{};
}

void PostToProxyThread(UINT message, WPARAM wParam = 0) {
    PostThreadMessageA(theProxyData.threadId(), message, wParam, 0);
}

void ReleaseCom(CQXProxy& proxy) {
    if (!proxy.m_comInitialized) return;
    CoUninitialize();
    proxy.m_comInitialized = false;
}

void RunMessageLoop(CQXProxy& proxy) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (message.hwnd != nullptr) continue;
        try {
            HandleProxyMessage(proxy, message);
            NoteProxyProgress();
        } catch (...) {
            theLogger.message(LogError,
                              "A unknow Exception occured in the Quodrix proxy thread! Thread will now exit. Another "
                              "thread will be created for the next command.");
            return;
        }
    }
}

// The ending steps; nothing may escape a thread routine.
bool EndProxyThread(CQXProxy& proxy) noexcept {
    {
        // A thread the main thread gave up on may end long after a new one has registered.
        CriticalSectionGuard guard(theProxyData.m_lock);
        if (theProxyData.m_threadId == GetCurrentThreadId()) {
            theProxyData.m_threadId = 0;
            theProxyData.m_thread = nullptr;
        }
    }
    try {
        proxy.m_link.Dispose();
    } catch (...) {
    }
    proxy.m_link.DetachListener();
    proxy.m_linkEvents.reset();
    return proxy.m_comInitialized;
}

}  // namespace

void CQXProxy::CQXLinkEvtHandler::OnTerminalClosed() {
    if (theProxyData.threadId() != 0) PostToProxyThread(QXPROXY_MSG_STOP);
}

CQXProxy::CQXProxy() : m_linkEvents(std::make_unique<CQXLinkEvtHandler>()) { m_link.m_events = m_linkEvents.get(); }

CQXProxy::~CQXProxy() { m_link.DetachListener(); }

void CQXProxy::OnStart(bool forceStart) {
    // The apartment is entered once per thread hold; a reconnection has left it before coming here.
    if (!m_comInitialized) {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (hr == S_OK || hr == S_FALSE) {
            m_comInitialized = true;
        } else {
            theLogger.message(LogError, "CoInitialize failed (%s)", ComErrorText(hr).c_str());
        }
    }

    std::string address;
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        address = theProxyData.m_address;
    }
    std::int32_t port = 0;
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        port = theProxyData.m_port;
    }

    if (m_link.Connect(address, port, forceStart)) return;
    m_link.Dispose();
    ReleaseCom(*this);
    PostToProxyThread(WM_QUIT);
}

void CQXProxy::Disconnect() {
    m_link.Dispose();
    ReleaseCom(*this);
    PostToProxyThread(WM_QUIT);
}

void CQXProxy::OnPilot() {
    ModuleRegistry modules;
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        modules = theProxyData.m_modules;
    }
    std::string value;
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        value = theProxyData.m_pendingValue;
    }
    m_link.Pilot(value, modules);
}

void CQXProxy::OnReconnect() {
    Disconnect();
    if (reconnectCount > kMaxReconnections) {
        theLogger.message(LogError, " Maximum number of connections to Quodrix reached, abort instruction.");
        return;
    }
    OnStart(false);
    OnPilot();
}

void HandleProxyMessage(CQXProxy& proxy, const MSG& message) {
    switch (message.message) {
    case QXPROXY_MSG_START: {
        theLogger.message(LogInfo, " QXPROXY_MSG_START message received.");
        const int forceStart = LOWORD(message.wParam);
        theLogger.message(LogInfo, " forceStart value is %d", forceStart);
        proxy.OnStart(forceStart != 0);
        break;
    }
    case QXPROXY_MSG_STOP:
        proxy.Disconnect();
        break;
    case QXPROXY_MSG_PILOT:
        proxy.OnPilot();
        break;
    case QXPROXY_MSG_RECONNECT:
        proxy.OnReconnect();
        break;
    default:
        break;
    }
}

DWORD WINAPI ProxyThreadMain(LPVOID startEvent) {
    bool comHeld = false;
    {
        std::unique_ptr<CQXProxy> proxy;
        try {
            proxy = std::make_unique<CQXProxy>();
        } catch (...) {
            // The creator sees the thread end instead of the start signal.
            return 0;
        }
        MSG message;
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(static_cast<HANDLE>(startEvent));

        RunMessageLoop(*proxy);
        comHeld = EndProxyThread(*proxy);
    }
    // After the link has released every reference it held: a thread that ended by an exception still
    // holds the apartment.
    if (comHeld) CoUninitialize();
    return 0;
}

void StartProxyThread(bool forceStart) {
    if (!terminalAvailable && !forceStart) return;
    if (theProxyData.threadId() != 0) return;
    // The last thread has let go of the shared state; it ends before the next one starts, so that two never
    // talk to the terminal at once, unless it is stuck in a call that does not return.
    WaitForProxyThreadEnd("starting a new one without it");

    KernelHandle started(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!started) {
        theLogger.message(LogError, "Cannot start the Quodrix proxy thread: no start event (system error %lu)",
                          GetLastError());
        return;
    }
    DWORD id = 0;
    KernelHandle thread(CreateThread(nullptr, 0, ProxyThreadMain, started.get(), 0, &id));
    if (!thread) {
        theLogger.message(LogError, "Cannot start the Quodrix proxy thread: thread not created (system error %lu)",
                          GetLastError());
        return;
    }
    HANDLE waits[2] = {started.get(), thread.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        theLogger.message(LogError, "Cannot start the Quodrix proxy thread: it ended before it was ready");
        return;
    }
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_threadId = id;
        theProxyData.m_thread = thread.get();
    }
    current.handle = std::move(thread);
    current.id = id;
    PostThreadMessageA(id, QXPROXY_MSG_START, forceStart ? 1 : 0, 0);
}

void StopProxyThread() {
    // A thread given up on keeps its id: it is neither asked again nor waited for again.
    const DWORD id = theProxyData.threadId();
    if (id != 0 && !IsAbandoned(id)) PostToProxyThread(QXPROXY_MSG_STOP);
    // Also a thread that has cleared its id but is still letting go of the terminal is waited for.
    WaitForProxyThreadEnd("stopping without it");
}

bool ProxyThreadStillStuck() {
    return std::any_of(abandoned.begin(), abandoned.end(), [](const ProxyThreadRecord& r) {
        return WaitForSingleObject(r.handle.get(), 0) == WAIT_TIMEOUT;
    });
}
