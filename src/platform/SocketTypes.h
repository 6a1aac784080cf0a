#pragma once
#include <cstdint>

// Socket names of the platform layer, with the values Windows gives them.
// They live in namespace platform and are spelled so that no system header
// (winsock2.h defines most Windows names as macros) can collide with them.
namespace platform {

// A socket handle: a file descriptor on Linux, Winsock's SOCKET on Windows
// (both pointer-sized unsigned). The invalid handle has all bits set.
using SOCKET = uintptr_t;
constexpr SOCKET kInvalidSocket = ~static_cast<SOCKET>(0);

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
constexpr int kFdRead = 0x01;
constexpr int kFdWrite = 0x02;
constexpr int kFdOob = 0x04;
constexpr int kFdAccept = 0x08;
constexpr int kFdConnect = 0x10;
constexpr int kFdClose = 0x20;
constexpr int kFdAllEvents = 0x3F;  // the six above (Winsock's FD_ALL_EVENTS has more bits)

// Socket notification message number.
constexpr unsigned int kSocketNotifyMessage = 0x503;

// Windows socket error numbers used by the layer.
constexpr int kWsaeIntr = 10004;
constexpr int kWsaeFault = 10014;
constexpr int kWsaeInval = 10022;
constexpr int kWsaeWouldBlock = 10035;
constexpr int kWsaeAlready = 10037;
constexpr int kWsaeNotSock = 10038;
constexpr int kWsaeNoProtoOpt = 10042;
constexpr int kWsaeConnAborted = 10053;
constexpr int kWsaeConnReset = 10054;
constexpr int kWsaeTimedOut = 10060;
constexpr int kWsaeConnRefused = 10061;
constexpr int kWsaHostNotFound = 11001;

// Windows socket option names and levels (translated by the platform layer).
constexpr int kSolSocket = 0xFFFF;
constexpr int kSoReuseAddr = 0x0004;
constexpr int kSoKeepAlive = 0x0008;
constexpr int kSoLinger = 0x0080;
constexpr int kSoSndTimeo = 0x1005;
constexpr int kSoRcvTimeo = 0x1006;

// I/O control codes.
constexpr long kFionbio = static_cast<long>(0x8004667E);
constexpr long kFionread = 0x4004667F;
constexpr unsigned long kSioKeepAliveVals = 0x98000004;

}  // namespace platform
