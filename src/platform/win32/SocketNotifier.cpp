#include "platform/SocketNotifier.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <process.h>
#include <set>

#include "platform/Event.h"
#include "platform/Sockets.h"
#include "platform/win32/Windows.h"

// Winsock posts a socket's events (WSAAsyncSelect) to a message-only window
// that the socket object's own message thread creates; the window procedure
// hands each message to the object's OnSocketMessage. Winsock keeps the
// event rules, so the Note* hints are not needed here.
namespace platform {
namespace {

const char kWindowClass[] = "CSocketWnd Helper Window";
// Below the socket notification range: "every message before me is done".
constexpr UINT kFlushMessage = kSocketNotifyMessage - 1;

// What one message thread shares with its notifier. The thread holds it to
// its end, so the window procedure may use it after the notifier is gone
// (a handler may destroy its own socket object).
struct MessageThread {
    std::mutex mutex;
    SocketMessageTarget* target = nullptr;  // null once the notifier let go
    HWND window = nullptr;                  // set once the message queue exists
    DWORD threadId = 0;
    bool quit = false;   // the notifier ended the thread
    bool ended = false;  // the message loop is over (or never began)
    uint64_t flushDone = 0;
    uint64_t flushRequested = 0;
    std::set<uintptr_t> closed;  // handles whose close event was delivered
    std::condition_variable flushed;
    Event ready{true, false};

    SocketMessageTarget* Target() {
        std::lock_guard<std::mutex> lock(mutex);
        return target;
    }
    void MarkFlushed(uint64_t ticket) {
        std::lock_guard<std::mutex> lock(mutex);
        if (ticket > flushDone) flushDone = ticket;
        flushed.notify_all();
    }
    // A socket's close is told once, as Windows promises: Wine may post it
    // again (after a read at the end of the stream), and a close this side
    // announced itself (NoteShutDown) may meet the peer's.
    bool FirstClose(uintptr_t socket) {
        std::lock_guard<std::mutex> lock(mutex);
        return closed.insert(socket).second;
    }
    void ForgetClose(uintptr_t socket) {
        std::lock_guard<std::mutex> lock(mutex);
        closed.erase(socket);
    }
    void MarkEnded() {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        window = nullptr;
        flushed.notify_all();
    }
};

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

LRESULT CALLBACK SocketWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window) return 0;
    auto* thread = reinterpret_cast<MessageThread*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (thread && message == kFlushMessage) {
        thread->MarkFlushed(static_cast<uint64_t>(wParam));
    } else if (thread && message >= kSocketNotifyMessage) {
        const bool again = WSAGETSELECTEVENT(lParam) == FD_CLOSE && !thread->FirstClose(wParam);
        if (SocketMessageTarget* target = again ? nullptr : thread->Target()) {
            try {
                target->OnSocketMessage(reinterpret_cast<uintptr_t>(window), message, static_cast<uintptr_t>(wParam),
                                        static_cast<intptr_t>(lParam));
            } catch (...) {
                // A handler's exception must not end the message thread.
            }
        }
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateSocketWindow() {
    static const ATOM registered = [] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = SocketWndProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = kWindowClass;
        return ::RegisterClassExA(&windowClass);
    }();
    (void)registered;  // a class left by an earlier load of the library serves as well
    return ::CreateWindowExA(0, kWindowClass, kWindowClass, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(),
                             nullptr);
}

// The message thread: creates the window, runs its message loop until a
// quit message, destroys the window.
unsigned __stdcall MessageThreadMain(void* argument) {
    std::unique_ptr<std::shared_ptr<MessageThread>> holder(static_cast<std::shared_ptr<MessageThread>*>(argument));
    std::shared_ptr<MessageThread> thread = *holder;
    HWND window = CreateSocketWindow();
    if (window) ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(thread.get()));
    bool quit;
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        thread->window = window;
        thread->threadId = ::GetCurrentThreadId();
        quit = thread->quit || !window;
    }
    thread->ready.Set();
    if (!quit) {
        MSG message;
        BOOL got;
        while ((got = ::GetMessageA(&message, nullptr, 0, 0)) != 0) {
            if (got == -1) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    thread->MarkEnded();
    if (window) ::DestroyWindow(window);
    return window ? 0 : static_cast<unsigned>(-1);
}

}  // namespace

struct SocketNotifier::Backend {
    SocketMessageTarget* target;
    mutable std::mutex mutex;
    std::shared_ptr<MessageThread> thread;  // the current message thread, if any
    HANDLE threadHandle = nullptr;
    std::map<SOCKET, int> selected;  // handles with a nonzero event mask

    std::shared_ptr<MessageThread> Current() const {
        std::lock_guard<std::mutex> lock(mutex);
        return thread;
    }
    HWND Window() const {
        std::shared_ptr<MessageThread> current = Current();
        if (!current) return nullptr;
        std::lock_guard<std::mutex> lock(current->mutex);
        return current->window;
    }
};

SocketNotifier::SocketNotifier(SocketMessageTarget* target) : m_backend(std::make_unique<Backend>()) {
    m_backend->target = target;
}

SocketNotifier::~SocketNotifier() { DestroySocketWindow(); }

uintptr_t SocketNotifier::Open(uint32_t readyLimitMs) {
    std::shared_ptr<MessageThread> thread = m_backend->Current();
    if (thread) {
        std::lock_guard<std::mutex> lock(thread->mutex);
        if (thread->window) return reinterpret_cast<uintptr_t>(thread->window);
        if (thread->ended) thread.reset();  // its window could not be made: try again
    }
    if (!thread) {
        DestroySocketWindow();
        thread = std::make_shared<MessageThread>();
        thread->target = m_backend->target;
        auto* holder = new std::shared_ptr<MessageThread>(thread);
        uintptr_t handle = ::_beginthreadex(nullptr, 0, MessageThreadMain, holder, 0, nullptr);
        if (handle == 0) {
            delete holder;
            return 0;
        }
        std::lock_guard<std::mutex> lock(m_backend->mutex);
        m_backend->thread = thread;
        m_backend->threadHandle = reinterpret_cast<HANDLE>(handle);
    }
    thread->ready.Wait(readyLimitMs);
    return GetWindowHandle();
}

uintptr_t SocketNotifier::GetWindowHandle() const { return reinterpret_cast<uintptr_t>(m_backend->Window()); }

bool SocketNotifier::Select(SOCKET socket, int mask) {
    HWND window = m_backend->Window();
    if (mask != 0 && !window) {
        WSASetLastError(kWsaeInval);
        return false;
    }
    // Without a window no events were ever selected: nothing to stop.
    if (window && ::WSAAsyncSelect(static_cast<::SOCKET>(socket), window, kSocketNotifyMessage, mask) != 0)
        return false;
    std::shared_ptr<MessageThread> thread = m_backend->Current();
    std::lock_guard<std::mutex> lock(m_backend->mutex);
    // A handle selected anew is a new socket, whose close is still to come.
    if (mask && thread && m_backend->selected.count(socket) == 0) thread->ForgetClose(socket);
    if (mask) m_backend->selected[socket] = mask; else m_backend->selected.erase(socket);
    return true;
}

bool SocketNotifier::IsSelected(SOCKET socket) const {
    std::lock_guard<std::mutex> lock(m_backend->mutex);
    return m_backend->selected.count(socket) != 0;
}

// closesocket cancels the selection; messages already queued for the handle
// are dropped by the target, which acts only for its current handle.
void SocketNotifier::Close(SOCKET socket) {
    {
        std::lock_guard<std::mutex> lock(m_backend->mutex);
        m_backend->selected.erase(socket);
    }
    if (std::shared_ptr<MessageThread> thread = m_backend->Current()) thread->ForgetClose(socket);
    closesocket(socket);
}

void SocketNotifier::NoteListening(SOCKET) {}
void SocketNotifier::NoteConnecting(SOCKET) {}
void SocketNotifier::NoteConnected(SOCKET) {}
void SocketNotifier::NoteAccepted(SOCKET) {}
void SocketNotifier::NoteSendBlocked(SOCKET) {}

void SocketNotifier::NoteConnectionError(SOCKET, int) {}

// Winsock announces a close only when the peer closed; after this side's own
// shutdown the close event is posted here, in order with the others.
void SocketNotifier::NoteShutDown(SOCKET socket) {
    if (IsSelected(socket)) Post(kSocketNotifyMessage, socket, MakeEventWord(kFdClose, 0));
}

int64_t SocketNotifier::ReadableBytesSeen(SOCKET) { return -1; }

bool SocketNotifier::Post(unsigned int message, uintptr_t wParam, intptr_t lParam) {
    HWND window = m_backend->Window();
    return window && ::PostMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

bool SocketNotifier::IsNotificationThread() {
    std::shared_ptr<MessageThread> thread = m_backend->Current();
    if (!thread) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    return thread->threadId == ::GetCurrentThreadId();
}

void SocketNotifier::WaitForHandlers(uint32_t limitMs) {
    std::shared_ptr<MessageThread> thread = m_backend->Current();
    if (!thread) return;
    std::unique_lock<std::mutex> lock(thread->mutex);
    if (!thread->window || thread->threadId == ::GetCurrentThreadId()) return;
    const uint64_t ticket = ++thread->flushRequested;
    if (!::PostMessageA(thread->window, kFlushMessage, static_cast<WPARAM>(ticket), 0)) return;
    thread->flushed.wait_for(lock, std::chrono::milliseconds(limitMs),
                             [&] { return thread->flushDone >= ticket || thread->ended; });
}

int SocketNotifier::DestroySocketWindow() {
    std::shared_ptr<MessageThread> thread;
    HANDLE handle;
    {
        std::lock_guard<std::mutex> lock(m_backend->mutex);
        thread = std::move(m_backend->thread);
        handle = m_backend->threadHandle;
        m_backend->threadHandle = nullptr;
        m_backend->selected.clear();
    }
    if (!thread) return 0;
    bool onThread;
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        thread->target = nullptr;
        thread->quit = true;
        onThread = thread->threadId == ::GetCurrentThreadId();
        if (!onThread && thread->window) ::PostThreadMessageA(thread->threadId, WM_QUIT, 0, 0);
    }
    if (onThread) {
        // A handler ends its own thread: the loop stops once it has returned.
        ::PostQuitMessage(0);
    } else if (handle) {
        ::WaitForSingleObject(handle, INFINITE);
    }
    if (handle) ::CloseHandle(handle);
    return 0;
}

}  // namespace platform
