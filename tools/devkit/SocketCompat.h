#pragma once
// The few socket calls that the test peers and the tool's helpers make, on
// POSIX sockets or on Winsock. Sockets are ints on both (Winsock handles are
// small numbers); -1 is "none".
#include <cstddef>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#ifndef SHUT_RDWR
#define SHUT_RDWR SD_BOTH  // shutdown() of both directions under its POSIX name
#endif
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace devkit {
namespace net {

#ifdef _WIN32
using SockLen = int;
#else
using SockLen = socklen_t;
#endif

// A TCP socket that child processes do not inherit (Winsock started first); -1 on failure.
int TcpSocket(bool nonBlocking);
// The next connection of a listening socket, or -1.
int Accept(int listenFd);
void Close(int fd);
bool SetNonBlocking(int fd, bool on);
// Send and receive timeouts in milliseconds.
void SetTimeouts(int fd, int ms);
// Like poll; `fds` as pollfd.
int Poll(pollfd* fds, unsigned count, int timeoutMs);
inline bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{};
    p.fd = fd;
    p.events = events;
    return Poll(&p, 1, timeoutMs) > 0;
}
// One send that never raises SIGPIPE and, like recv below, does not wait
// when `dontWait` is set (on Windows the socket itself must be non-blocking).
long Send(int fd, const void* data, size_t len, bool dontWait = false);
// Lets `dontWait` calls on a blocking socket return at once: on Windows the
// socket becomes non-blocking; Linux needs nothing.
void LetCallsNotWait(int fd);
long Recv(int fd, void* data, size_t len, bool dontWait = false);
// The last call failed only because it would have blocked (or a connect goes on).
bool WouldBlock();
// The connect of a non-blocking socket ended: 0, or its error.
int PendingError(int fd);

}  // namespace net
}  // namespace devkit
