// How far the proxy thread has got, for the main thread's waits on it.
//
// The count grows each time the proxy thread finishes a call to the terminal or a thread message. A thread
// whose count keeps growing is busy with a slow terminal and is waited for; one whose count stands still is
// stuck in a call that may never return, and is given up on after kProxyStallMs.
#pragma once

#include <windows.h>

#include <cstdint>

void NoteProxyProgress() noexcept;
std::uint64_t ProxyProgressCount() noexcept;

// How long the main thread waits on a proxy thread that makes no progress.
constexpr DWORD kProxyStallMs = 30000;

// Waits until `thread` has ended; false once its progress count has not moved for `stallMs` (measured from
// the start of the wait, so that an idle thread is not taken for a stuck one).
bool WaitWhileProgressing(HANDLE thread, DWORD stallMs = kProxyStallMs);
