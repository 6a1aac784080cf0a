#pragma once
#include <cstdint>

#include "platform/SocketTypes.h"

// Waiting on a socket's readiness together with a wake-up signal: the
// machinery behind the notification threads and the interruptible connect.
namespace platform {

// A signal that one thread raises to end another thread's wait. It stays
// raised until cleared. Backed by one descriptor (an eventfd on Linux, a
// manual-reset event on Windows).
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    bool IsOpen() const { return m_handle != -1; }
    void Raise();
    void Clear();
    bool IsRaised() const;

    // Waits until `socket` shows one of the `interest` bits (hang-up and
    // error are always reported), the signal is raised, or `timeoutMs`
    // passes (-1: no limit). The bits are the backend's (posix/SocketReadiness.h);
    // only the Linux notifier calls this (the Windows backend has no such wait). kInvalidSocket waits on the signal alone.
    // Returns the socket's readiness; `raised` tells whether the signal is up.
    unsigned Wait(SOCKET socket, unsigned interest, int timeoutMs, bool* raised);

private:
    intptr_t m_handle;  // -1 when the signal could not be made
};

// Waits at most `timeoutMs` until `s` can take more data; false otherwise.
bool WaitForWritable(SOCKET s, int timeoutMs);

// Connects a blocking socket without blocking the thread beyond the
// platform's own connect time-out, giving up with 10004 as soon as `abort`
// is raised (at once when it already is). The socket stays blocking.
int ConnectInterruptible(SOCKET s, const SOCKADDR_IN4* address, int length, Wakeup& abort);

}  // namespace platform
