#pragma once
#include <cstdint>
#include <memory>

#include "platform/SocketTypes.h"

namespace platform {

// The receiver of one socket's network events: the socket object.
class SocketMessageTarget {
public:
    // `wParam` is the socket handle the event is about, `lParam` the event
    // word (MakeEventWord). Runs on the notifier's thread.
    virtual int OnSocketMessage(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) = 0;

protected:
    ~SocketMessageTarget() = default;
};

// Event word of a socket notification: event bit in the low 16 bits, error
// number in the high 16 bits.
constexpr intptr_t MakeEventWord(int event, int error) {
    return static_cast<intptr_t>((static_cast<uint32_t>(error & 0xFFFF) << 16) |
                                 static_cast<uint32_t>(event & 0xFFFF));
}
constexpr int EventOfWord(intptr_t word) { return static_cast<int>(word & 0xFFFF); }
constexpr int ErrorOfWord(intptr_t word) { return static_cast<int>((static_cast<uintptr_t>(word) >> 16) & 0xFFFF); }

// The network events of one socket object, delivered as the Windows socket
// library posts them to a window: on a notification thread of the object's
// own, one handler call at a time, in order, as
// target->OnSocketMessage(window, kSocketNotifyMessage, handle, event word).
// An exception escaping a handler is dropped; the thread goes on.
//
// Lifecycle: Open starts the thread (once; later calls return the running
// one's window), Select chooses the events of a handle (mask 0 stops them,
// the thread stays), Close closes a handle so that no event about it
// follows. The thread ends with DestroySocketWindow or the destructor; after
// that no notification reaches the target. A handler may destroy its own
// socket object (and with it this notifier).
//
// The Note* calls tell the notifier what the socket object did, for a
// backend that works out the event rules itself; a backend whose system
// tracks them (Winsock) ignores them.
class SocketNotifier {
public:
    explicit SocketNotifier(SocketMessageTarget* target);
    ~SocketNotifier();
    SocketNotifier(const SocketNotifier&) = delete;
    SocketNotifier& operator=(const SocketNotifier&) = delete;

    // Starts the notification thread unless one is ready and waits at most
    // `readyLimitMs` for it. Returns the window handle: nonzero while the
    // thread is ready, 0 when it could not be made.
    uintptr_t Open(uint32_t readyLimitMs);
    uintptr_t GetWindowHandle() const;
    // Selects the events of `mask` for `socket` (0: none). The socket object
    // has made the socket non-blocking. True when selected.
    bool Select(SOCKET socket, int mask);
    // Events are selected (nonzero mask) for this handle.
    bool IsSelected(SOCKET socket) const;
    // Closes `socket`; no event about the handle follows.
    void Close(SOCKET socket);

    void NoteListening(SOCKET socket);
    void NoteConnecting(SOCKET socket);  // a connect goes on in the background
    void NoteConnected(SOCKET socket);   // a blocking connect succeeded
    // `socket` is a connection just accepted: its events, once selected, are
    // a connection's, also when the peer reset it before.
    void NoteAccepted(SOCKET socket);
    void NoteSendBlocked(SOCKET socket); // a send would have blocked
    // A receive failed with a connection error (10053, 10054).
    void NoteConnectionError(SOCKET socket, int error);
    // This side shut the connection down in both directions: its close
    // event is due although the peer has not closed.
    void NoteShutDown(SOCKET socket);

    // On the notification thread, during the dispatch of a read event for
    // `socket`: the bytes seen waiting when the event was announced; -1 when
    // unknown (the handler then asks the socket).
    static int64_t ReadableBytesSeen(SOCKET socket);

    // Queues a message (number from kSocketNotifyMessage up) that the thread
    // delivers to the target in order with the network events. True when
    // queued, false when no thread is ready.
    bool Post(unsigned int message, uintptr_t wParam, intptr_t lParam);
    // Returns once every handler call that had begun or was due has
    // returned, at most `limitMs`; at once on the notification thread itself
    // or when no thread runs.
    void WaitForHandlers(uint32_t limitMs);
    // True on the notification thread itself.
    bool IsNotificationThread();
    // Ends the notification thread and, unless called on it, waits for it.
    // A later Open starts a new one. Returns 0.
    int DestroySocketWindow();

private:
    struct Backend;
    std::unique_ptr<Backend> m_backend;
};

}  // namespace platform
