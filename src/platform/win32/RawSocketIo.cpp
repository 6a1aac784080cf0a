#include "platform/RawSocketIo.h"

#include <climits>

#include "platform/win32/Windows.h"

namespace platform {

// Winsock never raises a signal for a vanished peer. A recv that returns 0
// leaves the last error alone, hence the clearing first.
long RawSocketSend(SOCKET s, const void* data, size_t len) {
    const int n = len > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(len);
    ::WSASetLastError(0);
    return ::send(static_cast<::SOCKET>(s), static_cast<const char*>(data), n, 0);
}

long RawSocketRecv(SOCKET s, void* data, size_t len) {
    const int n = len > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(len);
    ::WSASetLastError(0);
    return ::recv(static_cast<::SOCKET>(s), static_cast<char*>(data), n, 0);
}

}  // namespace platform
