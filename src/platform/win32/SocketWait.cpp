#include "platform/SocketWait.h"

#include "platform/Sockets.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {
HANDLE EventOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

// A manual-reset event: raised until cleared.
Wakeup::Wakeup() {
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_handle = event ? reinterpret_cast<intptr_t>(event) : -1;
}

Wakeup::~Wakeup() {
    if (IsOpen()) ::CloseHandle(EventOf(m_handle));
}

void Wakeup::Raise() {
    if (IsOpen()) ::SetEvent(EventOf(m_handle));
}

void Wakeup::Clear() {
    if (IsOpen()) ::ResetEvent(EventOf(m_handle));
}

bool Wakeup::IsRaised() const {
    return IsOpen() && ::WaitForSingleObject(EventOf(m_handle), 0) == WAIT_OBJECT_0;
}

bool WaitForWritable(SOCKET s, int timeoutMs) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<::SOCKET>(s), &writable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, nullptr, &writable, nullptr, timeoutMs < 0 ? nullptr : &limit) > 0;
}

// The connect goes on in the background and its end is awaited together
// with the abort signal; the socket is blocking again afterwards.
int ConnectInterruptible(SOCKET s, const SOCKADDR_IN4* address, int length, Wakeup& abort) {
    if (abort.IsRaised() || !abort.IsOpen()) {
        WSASetLastError(kWsaeIntr);
        return kSocketError;
    }
    const ::SOCKET native = static_cast<::SOCKET>(s);
    WSAEVENT connected = ::WSACreateEvent();
    if (connected == WSA_INVALID_EVENT) return kSocketError;
    int result = kSocketError;
    int error = 0;
    // Selecting the connect event makes the socket non-blocking.
    if (::WSAEventSelect(native, connected, FD_CONNECT) != 0) {
        error = ::WSAGetLastError();
    } else {
        result = connect(s, address, length);
        error = result == 0 ? 0 : ::WSAGetLastError();
        HANDLE waits[2] = {EventOf(abort.NativeHandle()), connected};
        while (result != 0 && error == WSAEWOULDBLOCK) {
            WSANETWORKEVENTS events{};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                error = kWsaeIntr;
            } else if (::WSAEnumNetworkEvents(native, connected, &events) != 0) {
                error = ::WSAGetLastError();
            } else if (events.lNetworkEvents & FD_CONNECT) {
                error = events.iErrorCode[FD_CONNECT_BIT];
                if (error == 0) result = 0;
            }
        }
        ::WSAEventSelect(native, nullptr, 0);
    }
    ::WSACloseEvent(connected);
    uint32_t off = 0;
    ioctlsocket(s, kFionbio, &off);
    if (result != 0) WSASetLastError(error);
    return result;
}

}  // namespace platform
