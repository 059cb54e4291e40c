// The proxy thread: the one thread that talks to the terminal.
#pragma once

// Creates the proxy thread unless one runs (or, without force, the terminal is known unavailable),
// waits until it can take messages, and sends it QXPROXY_MSG_START.
void StartProxyThread(bool forceStart);
// Asks a running proxy thread to stop and waits until it has ended.
void StopProxyThread();
