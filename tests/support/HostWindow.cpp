#include "support/HostWindow.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "interface/Tolvane.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace testsupport {

struct HostWindowRecorder::State {
    mutable std::mutex lock;
    std::vector<intptr_t> messages;
    uintptr_t handle = 0;
    std::thread thread;

    void Record(unsigned int message, uintptr_t wParam, intptr_t lParam) {
        if (message != 9913 || wParam != 0) return;
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(lParam);
    }
};

#ifdef _WIN32

namespace {
LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<HostWindowRecorder::State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state) state->Record(message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

HostWindowRecorder::HostWindowRecorder() : m_state(std::make_shared<State>()) {
    State* state = m_state.get();
    std::mutex readyLock;
    std::condition_variable ready;
    bool made = false;
    state->thread = std::thread([&, state] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "Tolvane test host window";
        RegisterClassExA(&windowClass);  // fails harmlessly when it exists
        HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
        if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        {
            std::lock_guard<std::mutex> guard(readyLock);
            state->handle = reinterpret_cast<uintptr_t>(window);
            made = true;
        }
        ready.notify_all();
        if (!window) return;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.hwnd == window && message.message == WM_CLOSE) break;
            DispatchMessageA(&message);
        }
        DestroyWindow(window);
    });
    std::unique_lock<std::mutex> guard(readyLock);
    ready.wait(guard, [&] { return made; });
}

HostWindowRecorder::~HostWindowRecorder() {
    if (m_state->handle) PostMessageA(reinterpret_cast<HWND>(m_state->handle), WM_CLOSE, 0, 0);
    m_state->thread.join();
}

#else

namespace {
std::mutex g_currentLock;
std::shared_ptr<HostWindowRecorder::State> g_current;

intptr_t RecordingProc(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    std::shared_ptr<HostWindowRecorder::State> state;
    {
        std::lock_guard<std::mutex> guard(g_currentLock);
        state = g_current;
    }
    if (state && window == state->handle) state->Record(message, wParam, lParam);
    return 0;
}
}  // namespace

HostWindowRecorder::HostWindowRecorder() : m_state(std::make_shared<State>()) {
    m_state->handle = 1234;
    std::lock_guard<std::mutex> guard(g_currentLock);
    g_current = m_state;
    SetHostWindowProc(&RecordingProc);
}

HostWindowRecorder::~HostWindowRecorder() {
    SetHostWindowProc(nullptr);
    std::lock_guard<std::mutex> guard(g_currentLock);
    g_current.reset();
}

#endif

uintptr_t HostWindowRecorder::handle() const { return m_state->handle; }

std::vector<intptr_t> HostWindowRecorder::Messages() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->messages;
}

}  // namespace testsupport
