#pragma once
#include <cstddef>

#include "platform/SocketTypes.h"

namespace platform {

// Unbuffered socket I/O for layers that keep their own state on top of a
// descriptor (the TLS layer). The last socket error (errno, WSAGetLastError)
// is cleared before the call and left as the call set it, so that after an end
// of stream it holds no stale "try again" of an earlier call.

// One send with MSG_NOSIGNAL, so a vanished peer gives an error instead of
// SIGPIPE. Returns the bytes sent or -1.
long RawSocketSend(SOCKET s, const void* data, size_t len);

// One recv: the bytes read, 0 at the end of the stream, or -1.
long RawSocketRecv(SOCKET s, void* data, size_t len);

}  // namespace platform
