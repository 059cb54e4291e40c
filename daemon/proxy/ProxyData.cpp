#include "daemon/proxy/ProxyData.h"

QXProxyData theProxyData;
std::atomic<bool> startOnPilot{true};
std::atomic<bool> terminalAvailable{true};
std::int32_t reconnectCount = 0;
