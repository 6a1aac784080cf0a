#include "common/AsyncSocketEx.h"

#include <cstring>

#include "platform/Sockets.h"

namespace {

constexpr uint32_t kWindowReadyWaitMs = 60000;

int Succeeded(int platformResult) { return platformResult == 0 ? 1 : 0; }

SOCKADDR_IN4 MakeAddress(uint32_t networkAddress, unsigned port) {
    SOCKADDR_IN4 address{};
    address.sin_family = static_cast<uint16_t>(platform::AF_INET_WIN);
    address.sin_port = platform::HostToNetwork16(static_cast<uint16_t>(port));
    address.sin_addr = networkAddress;
    return address;
}

int NameOf(int (*call)(SOCKET, SOCKADDR_IN4*, int*), SOCKET s, char* text, unsigned* port) {
    SOCKADDR_IN4 address{};
    int length = sizeof address;
    if (call(s, &address, &length) != 0) return 0;
    if (text) std::strcpy(text, platform::inet_ntoa(address.sin_addr));
    if (port) *port = platform::NetworkToHost16(address.sin_port);
    return 1;
}

}  // namespace

CAsyncSocketEx::CAsyncSocketEx() { m_SocketWnd.SetOwner(this); }

CAsyncSocketEx::~CAsyncSocketEx() { m_SocketWnd.DestroySocketWindow(); }

int CAsyncSocketEx::Create(unsigned port, const char* address, int type, int mask, int reuse) {
    if (GetSocketHandle() != INVALID_SOCKET) {
        platform::WSASetLastError(WSAEALREADY);
        return 0;
    }
    m_SocketWnd.SetOwner(this);
    ClearAbort();
    SOCKET s = platform::socket(platform::AF_INET_WIN, type, 0);
    if (s == INVALID_SOCKET) return 0;
    SetSocketHandle(s);
    if (reuse) {
        // Linux honours address reuse only when it is set before the bind.
        int on = 1;
        SetSockOpt(SO_REUSEADDR_WIN, &on, sizeof on, SOL_SOCKET_WIN);
    }
    if (!Bind(port, address) || !AsyncSelect(mask)) {
        int error = GetSocketError();  // a derived Close must not hide why
        Close();
        platform::WSASetLastError(error);
        return 0;
    }
    return 1;
}

int CAsyncSocketEx::Bind(const SOCKADDR_IN4* address, int length) {
    return Succeeded(platform::bind(GetSocketHandle(), address, length));
}

int CAsyncSocketEx::Bind(unsigned port, const char* address) {
    uint32_t networkAddress = 0;
    if (address) {
        networkAddress = platform::inet_addr(address);
        if (networkAddress == platform::INADDR_NONE_WIN) {
            platform::WSASetLastError(WSAEINVAL);
            return 0;
        }
    }
    SOCKADDR_IN4 bound = MakeAddress(networkAddress, port);
    return Bind(&bound, sizeof bound);
}

int CAsyncSocketEx::Listen(int backlog) {
    SOCKET s = GetSocketHandle();
    if (platform::listen(s, backlog) != 0) return 0;
    m_SocketWnd.UpdateEvents([s](CSocketEventState& events) { events.NoteListening(s); });
    return 1;
}

SOCKET CAsyncSocketEx::Accept(SOCKADDR_IN4* address, int* length) {
    return platform::accept(GetSocketHandle(), address, length);
}

int CAsyncSocketEx::Connect(const SOCKADDR_IN4* address, int length) {
    SOCKET s = GetSocketHandle();
    if (platform::IsNonBlocking(s)) {
        int result = platform::connect(s, address, length);
        if (result == 0 || GetSocketError() == WSAEWOULDBLOCK)
            m_SocketWnd.UpdateEvents([s](CSocketEventState& events) { events.NoteConnecting(s); });
        return Succeeded(result);
    }
    if (platform::ConnectInterruptible(s, address, length, AbortSignal()) != 0) return 0;
    m_SocketWnd.UpdateEvents([s](CSocketEventState& events) { events.NoteConnected(s); });
    return 1;
}

int CAsyncSocketEx::Connect(const char* host, unsigned port) {
    if (!host) return 0;
    uint32_t networkAddress = platform::inet_addr(host);
    if (networkAddress == platform::INADDR_NONE_WIN && !platform::ResolveHostIPv4(host, &networkAddress)) {
        platform::WSASetLastError(WSAEINVAL);
        return 0;
    }
    SOCKADDR_IN4 peer = MakeAddress(networkAddress, port);
    return Connect(&peer, sizeof peer);
}

int CAsyncSocketEx::Receive(void* buffer, int length, int flags) {
    SOCKET s = GetSocketHandle();
    int received = platform::recv(s, buffer, length, flags);
    int error = received < 0 ? GetSocketError() : 0;
    if (error == WSAECONNRESET || error == WSAECONNABORTED)
        m_SocketWnd.UpdateEvents([s, error](CSocketEventState& events) { events.NoteConnectionError(s, error); });
    return received;
}

int CAsyncSocketEx::Send(const void* buffer, int length, int flags) {
    SOCKET s = GetSocketHandle();
    int sent = platform::send(s, buffer, length, flags);
    if (sent < 0 && GetSocketError() == WSAEWOULDBLOCK)
        m_SocketWnd.UpdateEvents([s](CSocketEventState& events) { events.NoteSendBlocked(s); });
    return sent;
}

void CAsyncSocketEx::AttachConnection(SOCKET handle) {
    SetSocketHandle(handle);
    m_SocketWnd.UpdateEvents([handle](CSocketEventState& events) { events.NoteAccepted(handle); });
}

void CAsyncSocketEx::Close() { CloseDetached(m_hSocket.exchange(INVALID_SOCKET)); }

void CAsyncSocketEx::CloseDetached(SOCKET s) {
    if (s == INVALID_SOCKET) return;
    // Closed under the notification lock, so that the notification thread
    // never looks at a descriptor number that is already reused.
    m_SocketWnd.UpdateEvents([s](CSocketEventState& events) {
        events.Forget(s);
        platform::closesocket(s);
    });
}

int CAsyncSocketEx::AsyncSelect(int mask) {
    m_lEvent = mask;
    if (mask && !GetSocketWindow()) {
        platform::WSASetLastError(WSAEINVAL);
        return 0;
    }
    SOCKET s = GetSocketHandle();
    uint32_t nonBlocking = 1;
    if (platform::ioctlsocket(s, FIONBIO_WIN, &nonBlocking) != 0) return 0;
    m_SocketWnd.UpdateEvents([s, mask](CSocketEventState& events) { events.Select(s, mask); });
    return 1;
}

uintptr_t CAsyncSocketEx::GetSocketWindow() {
    std::lock_guard<std::mutex> guard(m_windowLock);
    if (!m_SocketWnd.GetWindowHandle() && m_SocketWnd.Start(0, 0, nullptr) == 0)
        m_SocketWnd.WaitReady(kWindowReadyWaitMs);
    return m_SocketWnd.GetWindowHandle();
}

int CAsyncSocketEx::SetBlocking() {
    if (!AsyncSelect(0)) return 0;
    uint32_t nonBlocking = 0;
    return IOCtl(FIONBIO_WIN, &nonBlocking);
}

int CAsyncSocketEx::CancelBlock() {
    if (!AsyncSelect(FD_ALL_EVENTS)) return 0;
    uint32_t nonBlocking = 1;
    return IOCtl(FIONBIO_WIN, &nonBlocking);
}

int CAsyncSocketEx::IOCtl(long command, uint32_t* argument) {
    SOCKET s = GetSocketHandle();
    if (command == FIONBIO_WIN && argument && *argument == 0 && m_SocketWnd.IsSelected(s)) {
        platform::WSASetLastError(WSAEINVAL);
        return 0;
    }
    return Succeeded(platform::ioctlsocket(s, command, argument));
}

int CAsyncSocketEx::SetSockOpt(int option, const void* value, int length, int level) {
    return Succeeded(platform::setsockopt(GetSocketHandle(), level, option, value, length));
}

int CAsyncSocketEx::ShutDown(int how) { return Succeeded(platform::shutdown(GetSocketHandle(), how)); }

int CAsyncSocketEx::GetPeerName(char* address, unsigned* port) {
    return NameOf(platform::getpeername, GetSocketHandle(), address, port);
}

int CAsyncSocketEx::GetSockName(char* address, unsigned* port) {
    return NameOf(platform::getsockname, GetSocketHandle(), address, port);
}

int CAsyncSocketEx::OnSocketMessage(uintptr_t /*window*/, unsigned int /*message*/, uintptr_t wParam,
                                    intptr_t lParam) {
    SOCKET s = static_cast<SOCKET>(wParam);
    if (s == INVALID_SOCKET || s != GetSocketHandle()) return 0;
    const int event = static_cast<int>(lParam & 0xFFFF);
    int error = static_cast<int>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFF);
    switch (event) {
        case FD_CONNECT: OnConnect(error); break;
        case FD_READ: {
            // A read event of the notification thread comes with the count it
            // took when it announced the event; only others are counted here.
            int64_t waiting = CSocketExWnd::ReadableBytesSeen(s);
            if (waiting < 0) {
                uint32_t counted = 0;
                if (platform::ioctlsocket(s, FIONREAD_WIN, &counted) != 0) error = GetSocketError();
                waiting = counted;
            }
            if (waiting == 0 && error == 0) break;
            OnReceive(error);
            break;
        }
        case FD_WRITE: OnSend(error); break;
        case FD_ACCEPT: OnAccept(error); break;
        case FD_CLOSE: OnClose(error); break;
        default: break;
    }
    return 0;
}

void CAsyncSocketEx::AbortBlockingCall() { AbortSignal().Raise(); }

void CAsyncSocketEx::ClearAbort() {
    std::lock_guard<std::mutex> guard(m_abortLock);
    if (m_abort) m_abort->Clear();
}

platform::Wakeup& CAsyncSocketEx::AbortSignal() {
    std::lock_guard<std::mutex> guard(m_abortLock);
    if (!m_abort) m_abort = std::make_unique<platform::Wakeup>();
    return *m_abort;
}

int CAsyncSocketEx::GetSocketError() { return platform::WSAGetLastError(); }
