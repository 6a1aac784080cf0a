#pragma once
#include <cstdint>

// A socket handle is a file descriptor; the invalid handle has all bits set.
using SOCKET = uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);

// IPv4 address record laid out as on the wire of the socket API:
// family, port (network order), address (network order), 8 zero bytes.
struct SOCKADDR_IN4 {
    uint16_t sin_family;
    uint16_t sin_port;
    uint32_t sin_addr;
    unsigned char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN4) == 16, "IPv4 address record is 16 bytes");

// Network event bits.
constexpr int FD_READ = 0x01;
constexpr int FD_WRITE = 0x02;
constexpr int FD_OOB = 0x04;
constexpr int FD_ACCEPT = 0x08;
constexpr int FD_CONNECT = 0x10;
constexpr int FD_CLOSE = 0x20;
constexpr int FD_ALL_EVENTS = 0x3F;

// Socket notification message number.
constexpr unsigned int WM_SOCKETEX_NOTIFY = 0x503;

// Windows socket error numbers used by the layer.
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEALREADY = 10037;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAHOST_NOT_FOUND = 11001;

// Windows socket option names and levels (translated by the platform layer).
constexpr int SOL_SOCKET_WIN = 0xFFFF;
constexpr int SO_REUSEADDR_WIN = 0x0004;
constexpr int SO_KEEPALIVE_WIN = 0x0008;
constexpr int SO_LINGER_WIN = 0x0080;
constexpr int SO_SNDTIMEO_WIN = 0x1005;
constexpr int SO_RCVTIMEO_WIN = 0x1006;

// I/O control codes.
constexpr long FIONBIO_WIN = static_cast<long>(0x8004667E);
constexpr long FIONREAD_WIN = 0x4004667F;
constexpr unsigned long SIO_KEEPALIVE_VALS_WIN = 0x98000004;
