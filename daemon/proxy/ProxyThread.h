// The proxy thread: the one thread that talks to the terminal.
#pragma once

// Creates the proxy thread unless one runs (or, without force, the terminal is known unavailable),
// waits until it can take messages, and sends it QXPROXY_MSG_START. The previous thread, if still ending, is
// waited for first, as long as it makes progress.
void StartProxyThread(bool forceStart);
// Asks a running proxy thread to stop and waits until it has ended, or until it has made no progress for
// kProxyStallMs (stuck in a call to the terminal): then it logs so and returns without it.
void StopProxyThread();
// Whether a proxy thread given up on is still running: the process must then end without tearing down what
// that thread may still use, should its call return after all.
bool ProxyThreadStillStuck();
