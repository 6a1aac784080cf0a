#include "platform/SocketWait.h"
#include "platform/posix/SocketReadiness.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Sockets.h"

namespace platform {
namespace {

int FdOf(SOCKET s) { return s > static_cast<SOCKET>(INT_MAX) ? -1 : static_cast<int>(s); }

short ToPollEvents(unsigned interest) {
    short events = 0;
    if (interest & kReadable) events |= POLLIN;
    if (interest & kWritable) events |= POLLOUT;
    if (interest & kPeerClosed) events |= POLLRDHUP;
    return events;
}

unsigned FromPollEvents(short revents) {
    unsigned ready = 0;
    if (revents & POLLIN) ready |= kReadable;
    if (revents & POLLOUT) ready |= kWritable;
    if (revents & POLLRDHUP) ready |= kPeerClosed;
    if (revents & POLLHUP) ready |= kHangUp;
    if (revents & POLLERR) ready |= kError;
    if (revents & POLLNVAL) ready |= kNotOpen;
    return ready;
}

}  // namespace

Wakeup::Wakeup() : m_handle(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wakeup::~Wakeup() {
    if (IsOpen()) ::close(static_cast<int>(m_handle));
}

void Wakeup::Raise() {
    uint64_t one = 1;
    ssize_t ignored = ::write(static_cast<int>(m_handle), &one, sizeof one);  // a full counter is raised already
    (void)ignored;
}

void Wakeup::Clear() {
    uint64_t value = 0;
    ssize_t ignored = ::read(static_cast<int>(m_handle), &value, sizeof value);  // empty: nothing to clear
    (void)ignored;
}

bool Wakeup::IsRaised() const {
    pollfd p{static_cast<int>(m_handle), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

unsigned Wakeup::Wait(SOCKET socket, unsigned interest, int timeoutMs, bool* raised) {
    pollfd fds[2] = {{static_cast<int>(m_handle), POLLIN, 0}, {FdOf(socket), ToPollEvents(interest), 0}};
    int rc = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    if (raised) *raised = rc > 0 && (fds[0].revents & POLLIN);
    return rc > 0 ? FromPollEvents(fds[1].revents) : 0;
}

SocketPhase QuerySocketPhase(SOCKET s) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(FdOf(s), IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return SocketPhase::Unconnected;
    switch (info.tcpi_state) {
        case TCP_LISTEN: return SocketPhase::Listening;
        case TCP_SYN_SENT: return SocketPhase::Connecting;
        case TCP_CLOSE: return SocketPhase::Unconnected;
        default: return SocketPhase::Connected;
    }
}

int TakePendingError(SOCKET s) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(FdOf(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    return error ? MapErrno(error) : 0;
}

bool MetItself(SOCKET s) {
    sockaddr_in own{}, peer{};
    socklen_t ownLength = sizeof own, peerLength = sizeof peer;
    return ::getsockname(FdOf(s), reinterpret_cast<sockaddr*>(&own), &ownLength) == 0 &&
           ::getpeername(FdOf(s), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
           own.sin_port == peer.sin_port && own.sin_addr.s_addr == peer.sin_addr.s_addr;
}

int TakeConnectResult(SOCKET s) {
    const int error = TakePendingError(s);
    return error ? error : MetItself(s) ? kWsaeConnRefused : 0;
}

int ReadableBytes(SOCKET s) {
    uint32_t available = 0;
    if (ioctlsocket(s, kFionread, &available) != 0) return -1;
    return available > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(available);
}

int ConnectInterruptible(SOCKET s, const SOCKADDR_IN4* address, int length, Wakeup& abort) {
    if (abort.IsRaised()) {
        WSASetLastError(kWsaeIntr);
        return kSocketError;
    }
    uint32_t on = 1;
    if (ioctlsocket(s, kFionbio, &on) != 0) return kSocketError;
    int result = connect(s, address, length);
    int error = WSAGetLastError();
    while (result != 0 && error == kWsaeWouldBlock) {
        bool raised = false;
        unsigned ready = abort.Wait(s, kWritable, -1, &raised);
        if (raised) {
            error = kWsaeIntr;
        } else if (ready) {
            error = TakePendingError(s);
            if (error == 0) result = 0;
        }
    }
    if (result == 0 && MetItself(s)) {
        error = kWsaeConnRefused;
        result = kSocketError;
    }
    uint32_t off = 0;
    ioctlsocket(s, kFionbio, &off);
    if (result != 0) WSASetLastError(error);
    return result;
}

}  // namespace platform

namespace platform {

bool WaitForWritable(SOCKET s, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLOUT, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLOUT) != 0;
}

}  // namespace platform
