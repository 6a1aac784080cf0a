#pragma once
#include <cstdint>

#include "platform/SocketTypes.h"

namespace platform {

// The event selection of one socket and the rules by which its network
// events are announced, as the Windows socket library posts them:
//
// - read: while data are waiting. The next announcement follows the handler's
//   return, so a read handler must read (any way it likes) or it is called
//   again at once.
// - accept: likewise, while a connection waits to be accepted.
// - write: once when the events are selected on a connected socket or a
//   connect succeeds, then once after each send that would have blocked
//   (NoteSendBlocked) as soon as the socket is writable again.
// - connect: once when a connect started in the background ends, with its
//   result as the error.
// - close: once per connection, when the peer has closed and no unread data
//   remain: 0 for an orderly close, 10054 for a reset, 10053 for an abort.
//
// Not thread-safe: the notification window guards it with its lock.
class CSocketEventState {
public:
    // What the notification thread waits for next.
    struct Plan {
        SOCKET socket = kInvalidSocket;  // kInvalidSocket: wait for a wake-up only
        unsigned interest = 0;           // platform readiness bits
        int timeoutMs = -1;              // -1: no limit
        uint64_t generation = 0;
    };
    // One announcement: event bit (0: none) and error.
    struct Notice {
        SOCKET socket = kInvalidSocket;
        int event = 0;
        int error = 0;
        int64_t readable = -1;  // read: the bytes seen waiting
    };

    // Selects `mask` for `socket` (0 stops the announcements). A handle other
    // than the selected one starts afresh from the socket's present state.
    void Select(SOCKET socket, int mask);
    // The selected handle is being closed: nothing more about it.
    void Forget(SOCKET socket);
    void NoteConnecting(SOCKET socket);  // a connect goes on in the background
    void NoteConnected(SOCKET socket);   // a blocking connect succeeded
    void NoteListening(SOCKET socket);
    // `socket` is a connection (one just accepted), selected later: its
    // events are those of a connection even when the peer has already ended
    // it, which the socket's present state alone cannot tell.
    void NoteAccepted(SOCKET socket);
    // A send would have blocked: write is announced once writable again.
    void NoteSendBlocked(SOCKET socket);
    // A receive failed with a connection error before the close was seen.
    void NoteConnectionError(SOCKET socket, int error);
    // Events are selected (nonzero mask) for this handle.
    bool IsSelected(SOCKET socket) const { return socket != kInvalidSocket && socket == m_socket && m_mask; }

    Plan MakePlan() const;
    // Decides the next announcement from what the wait for `plan` reported.
    Notice TakeNotice(const Plan& plan, unsigned readiness);

private:
    enum class Phase { Unconnected, Listening, Connecting, Connected, Ended };

    void StartConnection(Phase phase);
    void Classify();
    Notice Announce(int event, int error) const;
    Notice TakeConnectionNotice(unsigned readiness);

    SOCKET m_socket = kInvalidSocket;
    int m_mask = 0;
    uint64_t m_generation = 0;
    Phase m_phase = Phase::Unconnected;
    bool m_writePending = false;
    bool m_peerGone = false;  // closed or reset by the peer; the close is due once data are read
    int m_closeError = 0;
    int m_receiveError = 0;
};

}  // namespace platform
