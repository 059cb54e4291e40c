// Seam: the proxy thread arrives with the terminal link.
#include "daemon/proxy/ProxyThread.h"

void StartProxyThread(bool) {}
void StopProxyThread() {}
