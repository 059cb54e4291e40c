#include "daemon/core/ControlWindow.h"

#include "daemon/core/Application.h"
#include "daemon/core/RequestDecode.h"
#include "daemon/log/Logger.h"
#include "daemon/piloting/ModuleRegistry.h"
#include "daemon/proxy/ProxyData.h"
#include "daemon/proxy/ProxyThread.h"

namespace {

void HandleCopyData(CApplication* app, const COPYDATASTRUCT& data) {
    DecodedRequest request = DecodeRequest(data.dwData, data.lpData, data.cbData);
    switch (request.kind) {
    case DecodedRequest::Kind::Malformed:
        theLogger.message(LogError, "%s", request.problem.c_str());
        break;
    case DecodedRequest::Kind::Start:
        if (app != nullptr) app->StartOnDemand(request.start);
        break;
    case DecodedRequest::Kind::AddModule: {
        std::string moduleName = FieldText(request.module->moduleName);
        std::string windowKind = FieldText(request.module->windowKind);
        if (!RegisterPilotingModule(moduleName.c_str(), windowKind.c_str()))
            theLogger.message(LogError, "Invalid Piloting Module: %s", windowKind.c_str());
        break;
    }
    case DecodedRequest::Kind::Pilot: {
        if (app == nullptr) break;
        const PilotRequest& r = *request.pilot;
        // The sender waits for this handler: its lines go to the file in one locked write, not three.
        LogBatch batch(theLogger);
        if (startOnPilot) StartProxyThread(true);
        app->config.currentMarket = r.market;
        app->config.currentPlace = r.place;
        app->PilotInstrument(r.place, r.codeMiddle, r.market, FieldText(r.group).c_str(), FieldText(r.isin).c_str(),
                             FieldText(r.currency).c_str(), FieldText(r.symbol).c_str(),
                             FieldText(r.creditClass).c_str(), FieldText(r.underlying).c_str());
        break;
    }
    case DecodedRequest::Kind::Stop:
        OnStopRequest();
        break;
    case DecodedRequest::Kind::Ignored:
        break;
    }
}

}  // namespace

LRESULT CALLBACK ControlWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<CApplication*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_CREATE: {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        app = static_cast<CApplication*>(create->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        if (app != nullptr) app->window = window;
        return 0;
    }
    case WM_COPYDATA:
        if (lParam != 0) HandleCopyData(app, *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 0;
    case WM_CLOSE:
        // Only a stop request ends the daemon.
        return 0;
    case WM_DESTROY:
        // Destroyed from outside while still bound: nobody can reach us any more, so shut down as for a
        // stop request and let a new daemon take over.
        if (app != nullptr) {
            theLogger.message(LogWarning, "Control window destroyed, stopping QXPilot");
            app->window = nullptr;
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            OnStopRequest();
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
