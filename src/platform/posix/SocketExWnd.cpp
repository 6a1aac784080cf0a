#include "platform/posix/SocketExWnd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/posix/SocketReadiness.h"

namespace platform {
namespace {
std::atomic<uintptr_t> g_nextWindow{1};
// An internal message below the socket notification range: "all before me is done".
constexpr unsigned int kFlushMessage = 0x502;

// The read event being dispatched on this thread and the bytes seen waiting.
struct ReadSeen {
    SOCKET socket = kInvalidSocket;
    int64_t bytes = -1;
};
thread_local ReadSeen t_readSeen;
}  // namespace

// What the object and its thread share. `epoch` changes with every Start and
// with DestroySocketWindow; a thread whose epoch is no longer current ends.
struct CSocketExWnd::Loop {
    mutable std::mutex mutex;
    CSocketEventState events;
    std::deque<Message> posted;
    SocketMessageTarget* owner = nullptr;
    Wakeup* wakeup = nullptr;  // the running thread's, null while none runs
    std::thread::id thread;
    std::atomic<uintptr_t> window{0};
    uint64_t epoch = 0;
    uint64_t startedEpoch = 0;
    uint64_t flushRequested = 0;
    uint64_t flushDone = 0;
    std::condition_variable flushed;

    bool OnLoopThread() const { return thread == std::this_thread::get_id(); }
};

CSocketExWnd::CSocketExWnd() : m_loop(std::make_shared<Loop>()) {}

CSocketExWnd::~CSocketExWnd() { DestroySocketWindow(); }

int CSocketExWnd::Start(unsigned flags, unsigned stackSize, void* security) {
    {
        std::lock_guard<std::mutex> lock(m_loop->mutex);
        m_loop->startedEpoch = ++m_loop->epoch;
    }
    return XThread::Start(flags, stackSize, security);
}

int CSocketExWnd::Run() {
    std::shared_ptr<Loop> loop = m_loop;
    Wakeup wakeup;
    uint64_t epoch;
    {
        std::lock_guard<std::mutex> lock(loop->mutex);
        epoch = loop->startedEpoch;
        if (epoch != loop->epoch) {  // destroyed before the thread got going
            m_hReady.Set();
            return -1;
        }
        loop->wakeup = wakeup.IsOpen() ? &wakeup : nullptr;
        loop->thread = std::this_thread::get_id();
    }
    int result = CreateSocketWindow();
    m_hReady.Set();
    if (result == 0) RunLoop(this, *loop, epoch);
    // `this` may be gone now (a handler destroyed the socket): only `loop` is used.
    std::lock_guard<std::mutex> lock(loop->mutex);
    if (loop->thread == std::this_thread::get_id()) {
        loop->wakeup = nullptr;
        loop->thread = std::thread::id();
        loop->window = 0;
        loop->posted.clear();
        loop->flushed.notify_all();
    }
    return result;
}

int CSocketExWnd::CreateSocketWindow() {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    if (!m_loop->wakeup || !m_loop->OnLoopThread()) return -1;
    m_loop->window = g_nextWindow.fetch_add(1);
    return 0;
}

// Each round waits for the socket (not at all when messages are queued),
// delivers the network event that is due, then one queued message. So a
// message is delivered only after the socket has been looked at once more.
void CSocketExWnd::RunLoop(CSocketExWnd* self, Loop& loop, uint64_t epoch) {
    Wakeup& wakeup = *loop.wakeup;
    for (;;) {
        CSocketEventState::Plan plan;
        bool messagesQueued;
        {
            std::lock_guard<std::mutex> lock(loop.mutex);
            if (loop.epoch != epoch) return;
            plan = loop.events.MakePlan();
            messagesQueued = !loop.posted.empty();
        }
        bool raised = false;
        unsigned readiness = wakeup.Wait(plan.socket, plan.interest, messagesQueued ? 0 : plan.timeoutMs, &raised);
        if (raised) wakeup.Clear();
        CSocketEventState::Notice notice;
        {
            std::lock_guard<std::mutex> lock(loop.mutex);
            if (loop.epoch != epoch) return;
            notice = loop.events.TakeNotice(plan, readiness);
        }
        if (notice.event) {
            t_readSeen = {notice.socket, notice.readable};
            self->Dispatch({kSocketNotifyMessage, notice.socket, MakeEventWord(notice.event, notice.error)});
            t_readSeen = ReadSeen();
        }
        Message message{};
        {
            std::lock_guard<std::mutex> lock(loop.mutex);
            if (loop.epoch != epoch) return;
            if (loop.posted.empty()) continue;
            message = loop.posted.front();
            loop.posted.pop_front();
        }
        self->Dispatch(message);
    }
}

void CSocketExWnd::Dispatch(const Message& message) {
    if (message.message == kFlushMessage) MarkFlushed(message.wParam);
    if (message.message < kSocketNotifyMessage) return;
    try {
        OnWindowMessage(GetWindowHandle(), message.message, message.wParam, message.lParam);
    } catch (...) {
        // A handler's exception must not end the notification thread.
    }
}

int CSocketExWnd::DestroySocketWindow() {
    bool onLoopThread;
    {
        std::lock_guard<std::mutex> lock(m_loop->mutex);
        ++m_loop->epoch;
        onLoopThread = m_loop->OnLoopThread();
        if (m_loop->wakeup) m_loop->wakeup->Raise();
    }
    if (!onLoopThread) Stop(kInfinite);
    return 0;
}

int64_t CSocketExWnd::ReadableBytesSeen(SOCKET socket) {
    return socket != kInvalidSocket && socket == t_readSeen.socket ? t_readSeen.bytes : -1;
}

uintptr_t CSocketExWnd::GetWindowHandle() const { return m_loop->window.load(); }

void CSocketExWnd::SetOwner(SocketMessageTarget* owner) {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    m_loop->owner = owner;
}

void CSocketExWnd::WaitReady(uint32_t limitMs) { m_hReady.Wait(limitMs); }

int CSocketExWnd::OnWindowMessage(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    SocketMessageTarget* owner;
    {
        std::lock_guard<std::mutex> lock(m_loop->mutex);
        owner = m_loop->owner;
    }
    if (owner) owner->OnSocketMessage(window, message, wParam, lParam);
    return 0;
}

int CSocketExWnd::PostMessage(unsigned int message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    if (!m_loop->wakeup) return 0;
    m_loop->posted.push_back({message, wParam, lParam});
    if (!m_loop->OnLoopThread()) m_loop->wakeup->Raise();
    return 1;
}

void CSocketExWnd::UpdateEvents(const std::function<void(CSocketEventState&)>& change) {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    change(m_loop->events);
    if (m_loop->wakeup && !m_loop->OnLoopThread()) m_loop->wakeup->Raise();
}

bool CSocketExWnd::IsSelected(SOCKET socket) const {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    return m_loop->events.IsSelected(socket);
}

void CSocketExWnd::MarkFlushed(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(m_loop->mutex);
    if (ticket > m_loop->flushDone) m_loop->flushDone = ticket;
    m_loop->flushed.notify_all();
}

void CSocketExWnd::WaitForHandlers(uint32_t limitMs) {
    std::unique_lock<std::mutex> lock(m_loop->mutex);
    if (!m_loop->wakeup || m_loop->OnLoopThread()) return;
    const uint64_t ticket = ++m_loop->flushRequested;
    m_loop->posted.push_back({kFlushMessage, static_cast<uintptr_t>(ticket), 0});
    m_loop->wakeup->Raise();
    std::shared_ptr<Loop> loop = m_loop;
    loop->flushed.wait_for(lock, std::chrono::milliseconds(limitMs),
                           [&] { return loop->flushDone >= ticket || !loop->wakeup; });
}

}  // namespace platform
