#include "tests/client/RecordingReceiver.h"

#include "common/QXRequests.h"

#include <future>

namespace qxtest {

namespace {

bool RegisterReceiverClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kControlWindowClass;
        return RegisterClassExA(&windowClass) != 0;
    }();
    return registered;
}

}  // namespace

RecordingReceiver::RecordingReceiver(Mode mode) : m_mode(mode) {
    if (!RegisterReceiverClass(&RecordingReceiver::WndProc)) return;
    if (mode == Mode::SameThread) {
        m_window = createWindow();
        return;
    }
    std::promise<HWND> created;
    std::future<HWND> window = created.get_future();
    m_thread = std::thread([this, &created] {
        HWND own = createWindow();
        created.set_value(own);
        if (own == nullptr) return;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    });
    m_window = window.get();
}

RecordingReceiver::~RecordingReceiver() {
    if (m_mode == Mode::SameThread) {
        if (m_window != nullptr) DestroyWindow(m_window);
        return;
    }
    // The window must be destroyed by its own thread: WM_CLOSE does that and ends the loop.
    if (m_window != nullptr) PostMessageA(m_window, WM_CLOSE, 0, 0);
    if (m_thread.joinable()) m_thread.join();
}

HWND RecordingReceiver::createWindow() {
    return CreateWindowExA(0, kControlWindowClass, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           nullptr, nullptr, GetModuleHandleA(nullptr), this);
}

LRESULT CALLBACK RecordingReceiver::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD errorAtEntry = GetLastError();
    auto* self = reinterpret_cast<RecordingReceiver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_CREATE:
        self = static_cast<RecordingReceiver*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return 0;
    case WM_COPYDATA:
        if (self != nullptr && lParam != 0) {
            self->record(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), errorAtEntry);
            if (self->m_errorToLeave != 0) SetLastError(self->m_errorToLeave);
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (self != nullptr && self->m_mode == Mode::OwnThread) PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void RecordingReceiver::record(const COPYDATASTRUCT& data, DWORD errorAtEntry) {
    ReceivedRequest request;
    request.code = data.dwData;
    request.size = data.cbData;
    request.hasData = data.lpData != nullptr;
    if (data.lpData != nullptr && data.cbData > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(data.lpData);
        request.bytes.assign(bytes, bytes + data.cbData);
    }
    request.errorAtEntry = errorAtEntry;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(std::move(request));
}

std::vector<ReceivedRequest> RecordingReceiver::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void RecordingReceiver::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

}  // namespace qxtest
