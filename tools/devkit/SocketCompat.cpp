#include "devkit/SocketCompat.h"

#ifdef _WIN32
#include <mutex>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace devkit {
namespace net {

#ifdef _WIN32

int TcpSocket(bool nonBlocking) {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);  // for the process's life
    });
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    int fd = static_cast<int>(s);
    if (nonBlocking) SetNonBlocking(fd, true);
    return fd;
}

int Accept(int listenFd) {
    SOCKET s = accept(static_cast<SOCKET>(listenFd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

void Close(int fd) { closesocket(static_cast<SOCKET>(fd)); }

bool SetNonBlocking(int fd, bool on) {
    u_long value = on ? 1 : 0;
    return ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &value) == 0;
}

void SetTimeouts(int fd, int ms) {
    DWORD value = static_cast<DWORD>(ms);
    setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
    setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}

int Poll(pollfd* fds, unsigned count, int timeoutMs) { return WSAPoll(fds, count, timeoutMs); }

long Send(int fd, const void* data, size_t len, bool) {
    return send(static_cast<SOCKET>(fd), static_cast<const char*>(data), static_cast<int>(len), 0);
}

long Recv(int fd, void* data, size_t len, bool) {
    return recv(static_cast<SOCKET>(fd), static_cast<char*>(data), static_cast<int>(len), 0);
}

void LetCallsNotWait(int fd) { SetNonBlocking(fd, true); }

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

int PendingError(int fd) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
        return WSAGetLastError();
    return error;
}

#else

int TcpSocket(bool nonBlocking) {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

int Accept(int listenFd) { return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); }

void Close(int fd) { close(fd); }

bool SetNonBlocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

void SetTimeouts(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int Poll(pollfd* fds, unsigned count, int timeoutMs) { return poll(fds, count, timeoutMs); }

long Send(int fd, const void* data, size_t len, bool dontWait) {
    return send(fd, data, len, MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0));
}

long Recv(int fd, void* data, size_t len, bool dontWait) {
    return recv(fd, data, len, dontWait ? MSG_DONTWAIT : 0);
}

void LetCallsNotWait(int) {}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR; }

int PendingError(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

#endif

}  // namespace net
}  // namespace devkit
