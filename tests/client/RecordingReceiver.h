// A window of the daemon's class inside the test process that records every WM_COPYDATA it receives, so that
// tests see exactly what the client library puts on the wire.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qxtest {

struct ReceivedRequest {
    ULONG_PTR code = 0;
    DWORD size = 0;
    bool hasData = false;
    std::vector<std::uint8_t> bytes;  // cbData bytes from lpData
    DWORD errorAtEntry = 0;           // the receiving thread's last error when the message arrived
};

class RecordingReceiver {
public:
    // OwnThread: the window lives on a thread of its own with a message loop, so senders on any thread and in
    // other processes reach it. SameThread: the window belongs to the constructing thread, and a send from
    // that thread calls the window procedure directly.
    enum class Mode { OwnThread, SameThread };

    explicit RecordingReceiver(Mode mode = Mode::OwnThread);
    ~RecordingReceiver();
    RecordingReceiver(const RecordingReceiver&) = delete;
    RecordingReceiver& operator=(const RecordingReceiver&) = delete;

    bool ready() const { return m_window != nullptr; }
    // The error the window procedure leaves set on its thread before returning (0: untouched).
    void leaveError(DWORD error) { m_errorToLeave = error; }
    std::vector<ReceivedRequest> requests() const;
    void clear();

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND createWindow();
    void record(const COPYDATASTRUCT& data, DWORD errorAtEntry);

    Mode m_mode;
    HWND m_window = nullptr;
    std::thread m_thread;
    std::atomic<DWORD> m_errorToLeave{0};
    mutable std::mutex m_mutex;
    std::vector<ReceivedRequest> m_requests;
};

}  // namespace qxtest
