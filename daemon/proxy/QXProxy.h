// The proxy thread's own object: its COM apartment, its terminal link and the link's listener.
#pragma once

#include "daemon/proxy/ProxyData.h"
#include "daemon/proxy/QXLink.h"

#include <windows.h>

#include <memory>

class CQXProxy {
public:
    using CQXProxyData = QXProxyData;

    // Told by the link's event sink, on a COM thread, that the terminal's frame window is closing.
    class CQXLinkEvtHandler final : public CQXLink::IEvents {
    public:
        // Asks the proxy thread to disconnect and end.
        void OnTerminalClosed() override;
    };

    CQXProxy();
    CQXProxy(const CQXProxy&) = delete;
    CQXProxy& operator=(const CQXProxy&) = delete;
    ~CQXProxy();

    // Enters the multithreaded apartment and connects; a failed connection ends the thread.
    void OnStart(bool forceStart);
    // Lets go of the terminal and of COM, and ends the thread once the messages already queued are handled.
    void Disconnect();
    // One piloting pass with the pending value over a copy of the module registry.
    void OnPilot();
    // Disconnects, then, unless too many reconnections failed in a row, connects again and pilots again.
    void OnReconnect();

    bool m_comInitialized = false;
    CQXLink m_link;
    std::unique_ptr<CQXLinkEvtHandler> m_linkEvents;
};

// The thread routine; `startEvent` is signalled once the thread's message queue exists.
DWORD WINAPI ProxyThreadMain(LPVOID startEvent);

// Handles one thread message of the proxy thread; exceptions go to the caller.
void HandleProxyMessage(CQXProxy& proxy, const MSG& message);

// More reconnection requests than this since the last successful connection are refused.
constexpr std::int32_t kMaxReconnections = 5;
