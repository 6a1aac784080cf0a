#include "platform/RawSocketIo.h"

#include <sys/socket.h>

#include <cerrno>

namespace platform {

long RawSocketSend(SOCKET s, const void* data, size_t len) {
    errno = 0;
    return static_cast<long>(send(static_cast<int>(s), data, len, MSG_NOSIGNAL));
}

long RawSocketRecv(SOCKET s, void* data, size_t len) {
    errno = 0;
    return static_cast<long>(recv(static_cast<int>(s), data, len, 0));
}

}  // namespace platform
