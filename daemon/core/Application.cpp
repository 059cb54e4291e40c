#include "daemon/core/Application.h"

#include "daemon/log/Logger.h"
#include "daemon/piloting/ModuleRegistry.h"
#include "daemon/proxy/ProxyThread.h"

CApplication::~CApplication() {
    theLogger.message(LogInfo, "Exiting QXPilot");
    StopProxyThread();
}

void CApplication::StartOnDemand(const StartRequest* request) {
    if (request == nullptr || startedOnDemand) return;

    ClearPilotingModules();

    std::string address = FieldText(request->address);
    std::string configFile = FieldText(request->configFile);
    std::int32_t port = request->port;
    if (configFile.empty()) configFile = "qxpilot.dat";
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_address = address;
    }
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_port = port;
    }

    LoadConfiguration(configFile.c_str());
    startedOnDemand = true;
    theLogger.trace(0, "Request for opening quodrix received from Tolvane");
    StartProxyThread(true);
    theLogger.message(LogInfo, " Quodrix started on demand");
}

void OnStopRequest() {
    StopProxyThread();
    PostQuitMessage(0);
}
