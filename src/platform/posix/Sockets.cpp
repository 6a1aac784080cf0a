#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local int t_lastError = 0;

int Fail(int errnoValue) {
    t_lastError = MapErrno(errnoValue);
    return kSocketError;
}

int FailWith(int windowsError) {
    t_lastError = windowsError;
    return kSocketError;
}

// The descriptor behind a handle; handles that cannot be descriptors (the
// invalid handle among them) fail as "not a socket", as Winsock does.
bool ToFd(SOCKET s, int* fd) {
    if (s > static_cast<SOCKET>(INT_MAX)) {
        t_lastError = kWsaeNotSock;
        return false;
    }
    *fd = static_cast<int>(s);
    return true;
}

bool SetNonBlockingFlag(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

int ReadInt(const void* value, int length, int* out) {
    if (!value || length < static_cast<int>(sizeof(int))) return FailWith(kWsaeFault);
    std::memcpy(out, value, sizeof(int));
    return 0;
}

int SetIntOption(int fd, int level, int option, int value) {
    return ::setsockopt(fd, level, option, &value, sizeof value) == 0 ? 0 : Fail(errno);
}

int SetTimeoutOption(int fd, int option, const void* value, int length) {
    int ms = 0;
    if (ReadInt(value, length, &ms) != 0) return kSocketError;
    uint32_t millis = static_cast<uint32_t>(ms);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(millis / 1000u);
    tv.tv_usec = static_cast<suseconds_t>((millis % 1000u) * 1000u);
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : Fail(errno);
}

int SetLingerOption(int fd, const void* value, int length) {
    if (!value || length < static_cast<int>(sizeof(LINGER_WIN))) return FailWith(kWsaeFault);
    LINGER_WIN win{};
    std::memcpy(&win, value, sizeof win);
    linger l{};
    l.l_onoff = win.l_onoff != 0;
    l.l_linger = win.l_linger;
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : Fail(errno);
}

int SetSocketLevelOption(int fd, int option, const void* value, int length) {
    int native = 0;
    switch (option) {
        case kSoReuseAddr: native = SO_REUSEADDR; break;
        case kSoKeepAlive: native = SO_KEEPALIVE; break;
        case kSoSndBuf: native = SO_SNDBUF; break;
        case kSoRcvBuf: native = SO_RCVBUF; break;
        case kSoSndTimeo: return SetTimeoutOption(fd, SO_SNDTIMEO, value, length);
        case kSoRcvTimeo: return SetTimeoutOption(fd, SO_RCVTIMEO, value, length);
        case kSoLinger: return SetLingerOption(fd, value, length);
        case kSoDontLinger: {
            int dont = 0;
            if (ReadInt(value, length, &dont) != 0) return kSocketError;
            LINGER_WIN win{static_cast<uint16_t>(dont ? 0 : 1), 0};
            return SetLingerOption(fd, &win, sizeof win);
        }
        default: return FailWith(kWsaeNoProtoOpt);
    }
    int v = 0;
    if (ReadInt(value, length, &v) != 0) return kSocketError;
    return SetIntOption(fd, SOL_SOCKET, native, v);
}

int SecondsRoundedUp(uint32_t ms) {
    uint32_t seconds = ms / 1000u + (ms % 1000u ? 1u : 0u);
    if (seconds < 1) seconds = 1;
    if (seconds > static_cast<uint32_t>(INT_MAX)) seconds = INT_MAX;
    return static_cast<int>(seconds);
}

// A blocking call that ran into its SO_RCVTIMEO/SO_SNDTIMEO reports a
// time-out on Windows, not "would block".
int FailTransfer(int fd, int errnoValue) {
    if ((errnoValue == EAGAIN || errnoValue == EWOULDBLOCK) && !(::fcntl(fd, F_GETFL) & O_NONBLOCK))
        return FailWith(kWsaeTimedOut);
    return Fail(errnoValue);
}

sockaddr_in ToNative(const SOCKADDR_IN4& address) {
    sockaddr_in in{};
    in.sin_family = address.sin_family == kAfInet ? AF_INET : address.sin_family;
    in.sin_port = address.sin_port;
    in.sin_addr.s_addr = address.sin_addr;
    return in;
}

void FromNative(const sockaddr_in& in, SOCKADDR_IN4* address, int* length) {
    std::memset(address, 0, sizeof *address);
    address->sin_family = static_cast<uint16_t>(kAfInet);
    address->sin_port = in.sin_port;
    address->sin_addr = in.sin_addr.s_addr;
    *length = sizeof(SOCKADDR_IN4);
}

int NameOf(int (*call)(int, sockaddr*, socklen_t*), SOCKET s, SOCKADDR_IN4* address, int* length) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (!address || !length || *length < static_cast<int>(sizeof(SOCKADDR_IN4))) return FailWith(kWsaeFault);
    sockaddr_in in{};
    socklen_t len = sizeof in;
    if (call(fd, reinterpret_cast<sockaddr*>(&in), &len) != 0) return Fail(errno);
    FromNative(in, address, length);
    return 0;
}

}  // namespace

bool AcquireSocketLibrary() { return true; }
void ReleaseSocketLibrary() {}

bool ReuseAddressBeforeBind() { return true; }

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int error) { t_lastError = error; }

int MapErrno(int error) {
    switch (error) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: return 10024;
        case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK: return 10035;
#endif
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case EOPNOTSUPP: return 10045;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        case EPIPE: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        default: return error;
    }
}

SOCKET socket(int family, int type, int protocol) {
    int native = family == kAfInet ? AF_INET : family;
    int fd = ::socket(native, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail(errno);
        return kInvalidSocket;
    }
    return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const SOCKADDR_IN4* address, int length) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (!address || length < static_cast<int>(sizeof(SOCKADDR_IN4))) return FailWith(kWsaeFault);
    if (address->sin_family != kAfInet) return Fail(EAFNOSUPPORT);
    sockaddr_in in = ToNative(*address);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0 ? 0 : Fail(errno);
}

int listen(SOCKET s, int backlog) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    return ::listen(fd, backlog) == 0 ? 0 : Fail(errno);
}

SOCKET accept(SOCKET s, SOCKADDR_IN4* address, int* length) {
    int fd;
    if (!ToFd(s, &fd)) return kInvalidSocket;
    if (address && (!length || *length < static_cast<int>(sizeof(SOCKADDR_IN4)))) {
        FailWith(kWsaeFault);
        return kInvalidSocket;
    }
    int flags = SOCK_CLOEXEC;
    int listenFlags = ::fcntl(fd, F_GETFL);
    if (listenFlags >= 0 && (listenFlags & O_NONBLOCK)) flags |= SOCK_NONBLOCK;
    sockaddr_in in{};
    socklen_t len = sizeof in;
    int client = ::accept4(fd, reinterpret_cast<sockaddr*>(&in), &len, flags);
    if (client < 0) {
        Fail(errno);
        return kInvalidSocket;
    }
    if (address) FromNative(in, address, length);
    return static_cast<SOCKET>(client);
}

int connect(SOCKET s, const SOCKADDR_IN4* address, int length) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (!address || length < static_cast<int>(sizeof(SOCKADDR_IN4))) return FailWith(kWsaeFault);
    sockaddr_in in = ToNative(*address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0) return 0;
    if (errno == EINPROGRESS) return FailWith(kWsaeWouldBlock);
    return Fail(errno);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (length < 0) return FailWith(kWsaeFault);
    int native = flags & ~kMsgWaitAll;
    if (flags & kMsgWaitAll) native |= MSG_WAITALL;
    ssize_t n = ::recv(fd, buffer, static_cast<size_t>(length), native);
    return n >= 0 ? static_cast<int>(n) : FailTransfer(fd, errno);
}

int send(SOCKET s, const void* buffer, int length, int flags) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (length < 0) return FailWith(kWsaeFault);
    ssize_t n = ::send(fd, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    return n >= 0 ? static_cast<int>(n) : FailTransfer(fd, errno);
}

int closesocket(SOCKET s) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    // Linux releases the descriptor even when close reports an error.
    return ::close(fd) == 0 || errno == EINTR ? 0 : Fail(errno);
}

int shutdown(SOCKET s, int how) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    int native = how == kSdReceive ? SHUT_RD : how == kSdSend ? SHUT_WR : how == kSdBoth ? SHUT_RDWR : -1;
    if (native < 0) return Fail(EINVAL);
    return ::shutdown(fd, native) == 0 ? 0 : Fail(errno);
}

int setsockopt(SOCKET s, int level, int option, const void* value, int length) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (level == kSolSocket) return SetSocketLevelOption(fd, option, value, length);
    if (level == kIpprotoTcp && option == kTcpNoDelay) {
        int v = 0;
        if (ReadInt(value, length, &v) != 0) return kSocketError;
        return SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, v);
    }
    return FailWith(kWsaeNoProtoOpt);
}

int ioctlsocket(SOCKET s, long command, uint32_t* argument) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (!argument) return FailWith(kWsaeFault);
    if (command == kFionbio) return SetNonBlockingFlag(fd, *argument != 0) ? 0 : Fail(errno);
    if (command == kFionread) {
        int available = 0;
        if (::ioctl(fd, FIONREAD, &available) != 0) return Fail(errno);
        *argument = static_cast<uint32_t>(available);
        return 0;
    }
    return Fail(EINVAL);
}

int WSAIoctl(SOCKET s, unsigned long code, const void* in, uint32_t inLength, void* /*out*/,
             uint32_t /*outLength*/, uint32_t* bytesReturned) {
    int fd;
    if (!ToFd(s, &fd)) return kSocketError;
    if (code != kSioKeepAliveVals) return Fail(EINVAL);
    if (!in || inLength < sizeof(TCP_KEEPALIVE_WIN)) return FailWith(kWsaeFault);
    TCP_KEEPALIVE_WIN values{};
    std::memcpy(&values, in, sizeof values);
    if (bytesReturned) *bytesReturned = 0;
    if (SetIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, values.onoff ? 1 : 0) != 0) return kSocketError;
    if (!values.onoff) return 0;
    if (SetIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, SecondsRoundedUp(values.keepalivetime)) != 0)
        return kSocketError;
    return SetIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, SecondsRoundedUp(values.keepaliveinterval));
}

int getpeername(SOCKET s, SOCKADDR_IN4* address, int* length) { return NameOf(::getpeername, s, address, length); }
int getsockname(SOCKET s, SOCKADDR_IN4* address, int* length) { return NameOf(::getsockname, s, address, length); }

uint32_t inet_addr(const char* text) {
    if (!text) return kInaddrNone;
    return ::inet_addr(text);
}

const char* inet_ntoa(uint32_t address) {
    thread_local char buffer[INET_ADDRSTRLEN];
    in_addr in{};
    in.s_addr = address;
    if (!::inet_ntop(AF_INET, &in, buffer, sizeof buffer)) buffer[0] = '\0';
    return buffer;
}

bool ResolveHostIPv4(const char* name, uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!name || ::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
        if (found) ::freeaddrinfo(found);
        t_lastError = kWsaHostNotFound;
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool IsNonBlocking(SOCKET s) {
    int fd;
    if (!ToFd(s, &fd)) return false;
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

}  // namespace platform
