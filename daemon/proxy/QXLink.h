// The daemon's connection to one running Quodrix terminal, used on the proxy thread only.
#pragma once

#include "daemon/proxy/ComHelper.h"
#include "daemon/proxy/ComPtr.h"
#include "daemon/proxy/ProxyData.h"

#include "QuodrixLib.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

class CQuodrixEventHandler;

// The image name of a running terminal; compared byte for byte.
constexpr const char* kTerminalImageName = "Velo.exe";

// Whole-name, case-sensitive comparison with the terminal's image name.
bool IsTerminalImageName(const char* imageName) noexcept;
// Walks a snapshot of the machine's processes for the terminal; a snapshot that cannot be taken or walked
// counts as no terminal.
bool TerminalProcessRunning();

class CQXLink {
public:
    // Told when the terminal's frame window is closing; called on a COM thread of the apartment.
    class IEvents {
    public:
        virtual void OnTerminalClosed() = 0;
    };

    CQXLink() = default;
    CQXLink(const CQXLink&) = delete;
    CQXLink& operator=(const CQXLink&) = delete;
    virtual ~CQXLink();

    // Attaches to the running terminal or launches one, then advises the event sink. False after a COM failure
    // (logged here); the caller disposes the link then.
    bool Connect(const std::string& address, std::int32_t port, bool forceStart);
    // Unadvises and releases the sink, releases the application object. Logs a COM failure, never throws one.
    void Dispose();
    // One piloting pass: the value into the windows the modules ask for (defined with the terminal piloting).
    bool Pilot(const std::string& value, const ModuleRegistry& modules);

    // Creates the terminal's application object into `target`; the HRESULT of the last step made.
    HRESULT CreateTerminalObject(ComHelper::ComPtr<IApplication>& target);

    ComHelper::ComPtr<IApplication> m_app;
    ComHelper::ComPtr<CQuodrixEventHandler> m_sink;
    bool m_connected = false;
    // Installed by the owner; read by the sink on COM threads, hence atomic.
    std::atomic<IEvents*> m_events{nullptr};
    // Takes the listener away; once it returns, no event call is still using it, so it may be destroyed.
    void DetachListener() noexcept;

private:
    // A new sink in m_sink, advised on m_app; the advice's own result is not needed.
    void AdviseNewSink();
    // Lets go of m_sink; a sink the terminal still holds can no longer reach this link.
    void ReleaseSink() noexcept;
};

// The link's event sink on the terminal's frame window events.
class CQuodrixEventHandler
    : public ComHelper::CComEventHandler<IApplication, ITFrameWndEvents, IID_ITFrameWndEvents> {
public:
    // A new sink with its first reference.
    static ComHelper::ComPtr<CQuodrixEventHandler> Create();

    HRESULT STDMETHODCALLTYPE FrameActivated() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FrameDeactivated() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FrameResized(LONG, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FrameMoved(LONG, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FrameClosing(LONG reason) override;
    HRESULT STDMETHODCALLTYPE GroupActivated(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE WindowPiloted(BSTR) override { return S_OK; }

    // The link that created the sink; null once the link has let go of it.
    std::atomic<CQXLink*> m_owner{nullptr};

private:
    CQuodrixEventHandler() = default;
    ~CQuodrixEventHandler() override = default;
};
