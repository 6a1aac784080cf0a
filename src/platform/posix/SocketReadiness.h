#pragma once
#include "platform/SocketWait.h"

// What the notification thread learns about a socket when it works out the
// Windows event rules itself.
namespace platform {

// Readiness reported by Wakeup::Wait for the socket.
constexpr unsigned kReadable = 0x01;
constexpr unsigned kWritable = 0x02;
constexpr unsigned kPeerClosed = 0x04;  // the peer shut down its sending side
constexpr unsigned kHangUp = 0x08;
constexpr unsigned kError = 0x10;
constexpr unsigned kNotOpen = 0x20;  // the handle is not an open descriptor

enum class SocketPhase { Unconnected, Listening, Connecting, Connected };

// Where a TCP socket stands: a connection the peer has closed but this side
// has not is still connected; a reset one is unconnected.
SocketPhase QuerySocketPhase(SOCKET s);

// Reads and clears the socket's pending error, in Windows numbering (0: none).
int TakePendingError(SOCKET s);

// Whether a connected socket's peer is the socket itself. Linux lets a
// connect to a free port of the local ephemeral range succeed as a
// connection of the socket with itself (TCP simultaneous open), where Windows
// refuses it; a client reconnecting to a local server that is down would
// otherwise talk to itself, so such a connect counts as refused.
bool MetItself(SOCKET s);

// The outcome of a connect that has ended: its pending error, or refused
// when the socket met itself.
int TakeConnectResult(SOCKET s);

// Bytes waiting to be read, or -1 with the last error set.
int ReadableBytes(SOCKET s);

}  // namespace platform
