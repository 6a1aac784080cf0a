#pragma once
#include <cstdint>

#include "platform/SocketTypes.h"

// Winsock-style socket calls (over the Linux socket API in the posix
// backend, the native ones in the win32 backend). Every failing call
// sets the calling thread's last socket error in Windows numbering; the
// results follow Winsock: 0 for success and -1 (kSocketError) for failure,
// kInvalidSocket for a failed socket or accept.
namespace platform {

constexpr int kSocketError = -1;
constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kIpprotoTcp = 6;
constexpr int kTcpNoDelay = 1;
constexpr int kSoSndBuf = 0x1001;
constexpr int kSoRcvBuf = 0x1002;
constexpr int kSoDontLinger = ~kSoLinger;
constexpr int kSdReceive = 0;
constexpr int kSdSend = 1;
constexpr int kSdBoth = 2;
constexpr int kMsgPeek = 0x2;
constexpr int kMsgWaitAll = 0x8;
constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// Windows `tcp_keepalive` record for SIO_KEEPALIVE_VALS, times in milliseconds.
struct TCP_KEEPALIVE_WIN {
    uint32_t onoff;
    uint32_t keepalivetime;
    uint32_t keepaliveinterval;
};

// Windows `linger` record for SO_LINGER.
struct LINGER_WIN {
    uint16_t l_onoff;
    uint16_t l_linger;
};

// One more user of the socket library (a socket object): Windows starts
// Winsock 2.2 for the first user and ends it after the last (the calls are
// counted, so a host that started Winsock itself is unaffected); Linux has
// nothing to start. False when the library could not be started.
bool AcquireSocketLibrary();
void ReleaseSocketLibrary();

// Address reuse (SO_REUSEADDR) is set before the bind: Linux needs that to
// bind a port whose connections linger. Windows binds such a port anyway and
// reads the option before a bind as leave to share a port in use, so there
// it is set after the bind, as designed.
bool ReuseAddressBeforeBind();

int WSAGetLastError();
void WSASetLastError(int error);
// The Windows socket error number for a Linux errno value; values without a
// Windows counterpart pass through unchanged.
int MapErrno(int error);

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const SOCKADDR_IN4* address, int length);
int listen(SOCKET s, int backlog);
// The new socket is non-blocking when the listening socket is, as on Windows.
SOCKET accept(SOCKET s, SOCKADDR_IN4* address, int* length);
// A connect that goes on in the background fails with 10035 (would block).
int connect(SOCKET s, const SOCKADDR_IN4* address, int length);
int recv(SOCKET s, void* buffer, int length, int flags);
// Never raises SIGPIPE when the peer has gone.
int send(SOCKET s, const void* buffer, int length, int flags);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
// Windows option numbers and value layouts (timeouts in ms, the 4-byte linger record).
int setsockopt(SOCKET s, int level, int option, const void* value, int length);
// kFionbio and kFionread.
int ioctlsocket(SOCKET s, long command, uint32_t* argument);
// kSioKeepAliveVals with a TCP_KEEPALIVE_WIN record as input.
int WSAIoctl(SOCKET s, unsigned long code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
             uint32_t* bytesReturned);
int getpeername(SOCKET s, SOCKADDR_IN4* address, int* length);
int getsockname(SOCKET s, SOCKADDR_IN4* address, int* length);

// Dotted IPv4 text to a network-order address; kInaddrNone when it does
// not parse, which includes "255.255.255.255".
uint32_t inet_addr(const char* text);
// Dotted text of a network-order address, in a buffer of the calling thread.
const char* inet_ntoa(uint32_t address);
// First IPv4 address (network order) of a host name or dotted text; false
// with the error 11001 when the name cannot be resolved.
bool ResolveHostIPv4(const char* name, uint32_t* address);

bool IsNonBlocking(SOCKET s);

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr uint16_t HostToNetwork16(uint16_t v) { return v; }
constexpr uint32_t HostToNetwork32(uint32_t v) { return v; }
#else
constexpr uint16_t HostToNetwork16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t HostToNetwork32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
#endif
constexpr uint16_t NetworkToHost16(uint16_t v) { return HostToNetwork16(v); }
constexpr uint32_t NetworkToHost32(uint32_t v) { return HostToNetwork32(v); }

}  // namespace platform
