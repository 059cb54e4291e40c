#include "daemon/proxy/ProxyProgress.h"

#include <atomic>

namespace {

std::atomic<std::uint64_t> progress{0};

// How often a waiting main thread looks at the count; an ending thread ends the wait at once.
constexpr DWORD kPollMs = 100;

}  // namespace

void NoteProxyProgress() noexcept { progress.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t ProxyProgressCount() noexcept { return progress.load(std::memory_order_relaxed); }

bool WaitWhileProgressing(HANDLE thread, DWORD stallMs) {
    std::uint64_t seen = ProxyProgressCount();
    ULONGLONG since = GetTickCount64();
    for (;;) {
        if (WaitForSingleObject(thread, kPollMs) != WAIT_TIMEOUT) return true;
        const std::uint64_t now = ProxyProgressCount();
        const ULONGLONG tick = GetTickCount64();
        if (now != seen) {
            seen = now;
            since = tick;
        } else if (tick - since >= stallMs) {
            return false;
        }
    }
}
