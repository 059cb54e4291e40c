// Owners for the handles and allocations of the client library: released on every path.
#pragma once

#include <windows.h>

class HandleOwner {
public:
    HandleOwner() = default;
    explicit HandleOwner(HANDLE handle) noexcept : m_handle(handle) {}
    ~HandleOwner() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    HANDLE get() const noexcept { return m_handle; }
    // For out-parameters of the platform; only on an empty owner.
    HANDLE* receive() noexcept { return &m_handle; }

private:
    HANDLE m_handle = nullptr;
};

// Memory from LocalAlloc or from a platform call that documents LocalFree.
class LocalOwner {
public:
    LocalOwner() = default;
    explicit LocalOwner(HLOCAL memory) noexcept : m_memory(memory) {}
    ~LocalOwner() {
        if (m_memory != nullptr) LocalFree(m_memory);
    }
    LocalOwner(const LocalOwner&) = delete;
    LocalOwner& operator=(const LocalOwner&) = delete;

    void* get() const noexcept { return m_memory; }
    void** receive() noexcept { return &m_memory; }

private:
    HLOCAL m_memory = nullptr;
};

// The two handles CreateProcess hands back.
class ProcessOwner {
public:
    explicit ProcessOwner(const PROCESS_INFORMATION& info) noexcept : m_process(info.hProcess), m_thread(info.hThread) {}
    HANDLE process() const noexcept { return m_process.get(); }

private:
    HandleOwner m_process;
    HandleOwner m_thread;
};
