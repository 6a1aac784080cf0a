#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/posix/SocketEventState.h"
#include "common/XThread.h"
#include "platform/Event.h"
#include "platform/SocketNotifier.h"

namespace platform {

// The notification window of one socket. Linux has no windows: the "window"
// is a thread of the socket's own that waits on the socket's readiness and on
// a wake-up signal, and hands every network event to the owner's
// OnSocketMessage as the message kSocketNotifyMessage would carry it (socket
// handle; event in the low 16 bits, error in the high 16 bits). Handlers thus
// run on this thread, one at a time, in order; an exception escaping one is
// dropped. The window handle is a number that is nonzero while the thread is
// ready.
//
// The thread is started by the socket's first event selection and ends when
// this object is destroyed (or DestroySocketWindow is called). Destruction
// from another thread waits until the thread no longer runs a handler, so a
// handler that waits for the destroying thread deadlocks. A handler may
// destroy its own socket object: the thread then ends without touching it.
class CSocketExWnd : public XThread {
public:
    CSocketExWnd();
    ~CSocketExWnd() override;

    int Start(unsigned flags = 0, unsigned stackSize = 0, void* security = nullptr) override;
    int Run() override;

    // On the notification thread: 0 when the thread is ready for events, -1
    // when its wake-up signal could not be made.
    int CreateSocketWindow();
    // Ends the notification thread and, unless called on it, waits for it.
    // A later event selection starts a new one. Returns 0.
    int DestroySocketWindow();
    uintptr_t GetWindowHandle() const;
    void SetOwner(SocketMessageTarget* owner);
    // Waits for the thread to be ready (or to have failed); result not reported.
    void WaitReady(uint32_t limitMs);
    // Calls the owner's OnSocketMessage with the four values. Returns 0.
    int OnWindowMessage(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);
    // Queues a message that the thread dispatches in order with the network
    // events. 1 when queued, 0 when no thread is ready.
    int PostMessage(unsigned int message, uintptr_t wParam, intptr_t lParam);
    // Returns once every handler call that had begun or was due has returned,
    // so that a closed connection's handlers are over; at most `limitMs`.
    // Returns at once on the notification thread itself or when none runs.
    void WaitForHandlers(uint32_t limitMs);

    // The socket side: runs `change` on the event selection under the lock,
    // then makes the thread look at the socket again.
    void UpdateEvents(const std::function<void(CSocketEventState&)>& change);
    // On a notification thread, during the dispatch of a read event for
    // `socket`: the bytes it saw waiting when it announced the event; -1
    // otherwise.
    static int64_t ReadableBytesSeen(SOCKET socket);
    bool IsSelected(SOCKET socket) const;

private:
    struct Loop;
    struct Message {
        unsigned int message;
        uintptr_t wParam;
        intptr_t lParam;
    };
    static void RunLoop(CSocketExWnd* self, Loop& loop, uint64_t epoch);
    void Dispatch(const Message& message);
    void MarkFlushed(uint64_t ticket);

    std::shared_ptr<Loop> m_loop;  // shared with the thread, which may outlive a self-destroyed object
    Event m_hReady{false, false};
};

}  // namespace platform
