// State shared between the main thread and the proxy thread, and the proxy thread's messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>

// Module name -> ascending set of window-kind codes.
using WindowKindSet = std::set<std::int32_t>;
using ModuleRegistry = std::map<std::string, WindowKindSet>;

class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&m_section); }
    ~CriticalSection() { DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() noexcept { EnterCriticalSection(&m_section); }
    void unlock() noexcept { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// One hold of the lock for one read or write: never across a post, a wait, a log line or a COM call.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& section) noexcept : m_section(section) { m_section.lock(); }
    ~CriticalSectionGuard() { m_section.unlock(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& m_section;
};

class QXProxyData {
public:
    QXProxyData() = default;
    virtual ~QXProxyData() = default;

    CriticalSection m_lock;
    DWORD m_threadId = 0;
    HANDLE m_thread = nullptr;
    std::string m_pendingValue;
    ModuleRegistry m_modules;
    std::string m_address;
    std::int32_t m_port = 0;

    // Each accessor is one hold of m_lock.
    DWORD threadId() {
        CriticalSectionGuard guard(m_lock);
        return m_threadId;
    }
    HANDLE threadHandle() {
        CriticalSectionGuard guard(m_lock);
        return m_thread;
    }
};

extern QXProxyData theProxyData;

// Written by the proxy thread, read by the main thread without the lock.
extern std::atomic<bool> startOnPilot;
extern std::atomic<bool> terminalAvailable;
// Used by the proxy thread only.
extern std::int32_t reconnectCount;

constexpr UINT QXPROXY_MSG_START = WM_APP + 1;      // 0x8001, wParam: force start
constexpr UINT QXPROXY_MSG_STOP = WM_APP + 2;       // 0x8002
constexpr UINT QXPROXY_MSG_PILOT = WM_APP + 3;      // 0x8003
constexpr UINT QXPROXY_MSG_RECONNECT = WM_APP + 4;  // 0x8004
static_assert(QXPROXY_MSG_START == 0x8001 && QXPROXY_MSG_RECONNECT == 0x8004);
