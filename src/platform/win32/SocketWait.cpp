#include "platform/SocketWait.h"

#include "platform/Sockets.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {
// How often a connect under way looks at the abort signal.
constexpr int kConnectSliceMs = 20;

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

// The connect goes on in the background while the thread watches it and
// the abort signal in short slices; the socket is blocking again afterwards.
// (Winsock reports a second connect attempt on the same socket unreliably
// through the connect event under Wine; select sees its end either way.)
int ConnectInterruptible(SOCKET s, const SOCKADDR_IN4* address, int length, Wakeup& abort) {
    if (abort.IsRaised()) {
        WSASetLastError(kWsaeIntr);
        return kSocketError;
    }
    const ::SOCKET native = static_cast<::SOCKET>(s);
    uint32_t on = 1;
    if (ioctlsocket(s, kFionbio, &on) != 0) return kSocketError;
    int result = connect(s, address, length);
    int error = result == 0 ? 0 : ::WSAGetLastError();
    while (result != 0 && error == WSAEWOULDBLOCK) {
        if (abort.IsRaised()) {
            error = kWsaeIntr;
            break;
        }
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(native, &writable);
        FD_SET(native, &failed);
        timeval slice{0, static_cast<long>(kConnectSliceMs) * 1000};
        const int ready = ::select(0, nullptr, &writable, &failed, &slice);
        if (ready == SOCKET_ERROR) {
            error = ::WSAGetLastError();
        } else if (FD_ISSET(native, &failed)) {
            int pending = 0;
            int size = sizeof pending;
            ::getsockopt(native, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size);
            error = pending ? pending : WSAECONNREFUSED;
        } else if (FD_ISSET(native, &writable)) {
            result = 0;
        }
    }
    uint32_t off = 0;
    ioctlsocket(s, kFionbio, &off);
    if (result != 0) WSASetLastError(error);
    return result;
}

}  // namespace platform
