#include "platform/RawSocketIo.h"

#include <climits>

#include "platform/win32/Windows.h"

namespace platform {

// Winsock never raises a signal for a vanished peer. The last error stays
// as the call set it (WSAGetLastError).
long RawSocketSend(SOCKET s, const void* data, size_t len) {
    const int n = len > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(len);
    return ::send(static_cast<::SOCKET>(s), static_cast<const char*>(data), n, 0);
}

long RawSocketRecv(SOCKET s, void* data, size_t len) {
    const int n = len > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(len);
    return ::recv(static_cast<::SOCKET>(s), static_cast<char*>(data), n, 0);
}

}  // namespace platform
