#pragma once
#include <cstdint>

#include "platform/SocketTypes.h"

// Waiting on a socket's readiness together with a wake-up signal: the
// machinery behind the notification threads and the interruptible connect.
namespace platform {

// Readiness reported by Wakeup::Wait for the socket.
constexpr unsigned kReadable = 0x01;
constexpr unsigned kWritable = 0x02;
constexpr unsigned kPeerClosed = 0x04;  // the peer shut down its sending side
constexpr unsigned kHangUp = 0x08;
constexpr unsigned kError = 0x10;
constexpr unsigned kNotOpen = 0x20;  // the handle is not an open descriptor

// A signal that one thread raises to end another thread's wait. It stays
// raised until cleared. Backed by one descriptor.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Raise();
    void Clear();
    bool IsRaised() const;

    // Waits until `socket` shows one of the `interest` bits (hang-up and
    // error are always reported), the signal is raised, or `timeoutMs`
    // passes (-1: no limit). kInvalidSocket waits on the signal alone.
    // Returns the socket's readiness; `raised` tells whether the signal is up.
    unsigned Wait(SOCKET socket, unsigned interest, int timeoutMs, bool* raised);

private:
    int m_fd;
};

enum class SocketPhase { Unconnected, Listening, Connecting, Connected };

// Where a TCP socket stands: a connection the peer has closed but this side
// has not is still connected; a reset one is unconnected.
SocketPhase QuerySocketPhase(SOCKET s);

// Reads and clears the socket's pending error, in Windows numbering (0: none).
int TakePendingError(SOCKET s);

// Bytes waiting to be read, or -1 with the last error set.
int ReadableBytes(SOCKET s);

// Waits at most `timeoutMs` until `s` can take more data; false otherwise.
bool WaitForWritable(SOCKET s, int timeoutMs);

// Connects a blocking socket without blocking the thread beyond the
// platform's own connect time-out, giving up with 10004 as soon as `abort`
// is raised (at once when it already is). The socket stays blocking.
int ConnectInterruptible(SOCKET s, const SOCKADDR_IN4* address, int length, Wakeup& abort);

}  // namespace platform
