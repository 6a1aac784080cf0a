#include "common/AsyncSocketEx.h"

#include <cstring>

#include "platform/Sockets.h"

namespace {

constexpr uint32_t kWindowReadyWaitMs = 60000;

int Succeeded(int platformResult) { return platformResult == 0 ? 1 : 0; }

platform::SOCKADDR_IN4 MakeAddress(uint32_t networkAddress, unsigned port) {
    platform::SOCKADDR_IN4 address{};
    address.sin_family = static_cast<uint16_t>(platform::kAfInet);
    address.sin_port = platform::HostToNetwork16(static_cast<uint16_t>(port));
    address.sin_addr = networkAddress;
    return address;
}

int NameOf(int (*call)(platform::SOCKET, platform::SOCKADDR_IN4*, int*), platform::SOCKET s, char* text,
           unsigned* port) {
    platform::SOCKADDR_IN4 address{};
    int length = sizeof address;
    if (call(s, &address, &length) != 0) return 0;
    if (text) std::strcpy(text, platform::inet_ntoa(address.sin_addr));
    if (port) *port = platform::NetworkToHost16(address.sin_port);
    return 1;
}

}  // namespace

CAsyncSocketEx::CAsyncSocketEx() : m_bLibraryStarted(Startup() != 0) {}

CAsyncSocketEx::~CAsyncSocketEx() {
    m_SocketWnd.DestroySocketWindow();
    if (m_bLibraryStarted) Cleanup();
}

int CAsyncSocketEx::Create(unsigned port, const char* address, int type, int mask, int reuse) {
    if (GetSocketHandle() != platform::kInvalidSocket) {
        platform::WSASetLastError(platform::kWsaeAlready);
        return 0;
    }
    ClearAbort();
    platform::SOCKET s = platform::socket(platform::kAfInet, type, 0);
    if (s == platform::kInvalidSocket) return 0;
    SetSocketHandle(s);
    const int on = 1;
    const bool reuseFirst = platform::ReuseAddressBeforeBind();
    if (reuse && reuseFirst) SetSockOpt(platform::kSoReuseAddr, &on, sizeof on, platform::kSolSocket);
    if (!Bind(port, address) || !AsyncSelect(mask)) {
        int error = GetSocketError();  // a derived Close must not hide why
        Close();
        platform::WSASetLastError(error);
        return 0;
    }
    if (reuse && !reuseFirst) SetSockOpt(platform::kSoReuseAddr, &on, sizeof on, platform::kSolSocket);
    return 1;
}

int CAsyncSocketEx::Bind(const platform::SOCKADDR_IN4* address, int length) {
    return Succeeded(platform::bind(GetSocketHandle(), address, length));
}

int CAsyncSocketEx::Bind(unsigned port, const char* address) {
    uint32_t networkAddress = 0;
    if (address) {
        networkAddress = platform::inet_addr(address);
        if (networkAddress == platform::kInaddrNone) {
            platform::WSASetLastError(platform::kWsaeInval);
            return 0;
        }
    }
    platform::SOCKADDR_IN4 bound = MakeAddress(networkAddress, port);
    return Bind(&bound, sizeof bound);
}

int CAsyncSocketEx::Listen(int backlog) {
    platform::SOCKET s = GetSocketHandle();
    if (platform::listen(s, backlog) != 0) return 0;
    m_SocketWnd.NoteListening(s);
    return 1;
}

platform::SOCKET CAsyncSocketEx::Accept(platform::SOCKADDR_IN4* address, int* length) {
    return platform::accept(GetSocketHandle(), address, length);
}

int CAsyncSocketEx::Connect(const platform::SOCKADDR_IN4* address, int length) {
    platform::SOCKET s = GetSocketHandle();
    if (platform::IsNonBlocking(s)) {
        int result = platform::connect(s, address, length);
        if (result == 0 || GetSocketError() == platform::kWsaeWouldBlock)
            m_SocketWnd.NoteConnecting(s);
        return Succeeded(result);
    }
    if (platform::ConnectInterruptible(s, address, length, AbortSignal()) != 0) return 0;
    m_SocketWnd.NoteConnected(s);
    return 1;
}

int CAsyncSocketEx::Connect(const char* host, unsigned port) {
    if (!host) return 0;
    uint32_t networkAddress = platform::inet_addr(host);
    if (networkAddress == platform::kInaddrNone && !platform::ResolveHostIPv4(host, &networkAddress)) {
        platform::WSASetLastError(platform::kWsaeInval);
        return 0;
    }
    platform::SOCKADDR_IN4 peer = MakeAddress(networkAddress, port);
    return Connect(&peer, sizeof peer);
}

int CAsyncSocketEx::Receive(void* buffer, int length, int flags) {
    platform::SOCKET s = GetSocketHandle();
    int received = platform::recv(s, buffer, length, flags);
    int error = received < 0 ? GetSocketError() : 0;
    if (error == platform::kWsaeConnReset || error == platform::kWsaeConnAborted)
        m_SocketWnd.NoteConnectionError(s, error);
    return received;
}

int CAsyncSocketEx::Send(const void* buffer, int length, int flags) {
    platform::SOCKET s = GetSocketHandle();
    int sent = platform::send(s, buffer, length, flags);
    if (sent < 0 && GetSocketError() == platform::kWsaeWouldBlock)
        m_SocketWnd.NoteSendBlocked(s);
    return sent;
}

void CAsyncSocketEx::AttachConnection(platform::SOCKET handle) {
    SetSocketHandle(handle);
    m_SocketWnd.NoteAccepted(handle);
}

void CAsyncSocketEx::Close() { CloseDetached(m_hSocket.exchange(platform::kInvalidSocket)); }

void CAsyncSocketEx::CloseDetached(platform::SOCKET s) {
    if (s == platform::kInvalidSocket) return;
    m_SocketWnd.Close(s);
}

int CAsyncSocketEx::AsyncSelect(int mask) {
    m_lEvent = mask;
    if (mask && !GetSocketWindow()) {
        platform::WSASetLastError(platform::kWsaeInval);
        return 0;
    }
    platform::SOCKET s = GetSocketHandle();
    uint32_t nonBlocking = 1;
    if (platform::ioctlsocket(s, platform::kFionbio, &nonBlocking) != 0) return 0;
    return m_SocketWnd.Select(s, mask) ? 1 : 0;
}

uintptr_t CAsyncSocketEx::GetSocketWindow() {
    std::lock_guard<std::mutex> guard(m_windowLock);
    return m_SocketWnd.Open(kWindowReadyWaitMs);
}

int CAsyncSocketEx::SetBlocking() {
    if (!AsyncSelect(0)) return 0;
    uint32_t nonBlocking = 0;
    return IOCtl(platform::kFionbio, &nonBlocking);
}

int CAsyncSocketEx::CancelBlock() {
    if (!AsyncSelect(platform::kFdAllEvents)) return 0;
    uint32_t nonBlocking = 1;
    return IOCtl(platform::kFionbio, &nonBlocking);
}

int CAsyncSocketEx::IOCtl(long command, uint32_t* argument) {
    platform::SOCKET s = GetSocketHandle();
    if (command == platform::kFionbio && argument && *argument == 0 && m_SocketWnd.IsSelected(s)) {
        platform::WSASetLastError(platform::kWsaeInval);
        return 0;
    }
    return Succeeded(platform::ioctlsocket(s, command, argument));
}

int CAsyncSocketEx::SetSockOpt(int option, const void* value, int length, int level) {
    return Succeeded(platform::setsockopt(GetSocketHandle(), level, option, value, length));
}

int CAsyncSocketEx::ShutDown(int how) {
    platform::SOCKET s = GetSocketHandle();
    if (platform::shutdown(s, how) != 0) return 0;
    if (how == platform::kSdBoth) m_SocketWnd.NoteShutDown(s);
    return 1;
}

int CAsyncSocketEx::GetPeerName(char* address, unsigned* port) {
    return NameOf(platform::getpeername, GetSocketHandle(), address, port);
}

int CAsyncSocketEx::GetSockName(char* address, unsigned* port) {
    return NameOf(platform::getsockname, GetSocketHandle(), address, port);
}

int CAsyncSocketEx::OnSocketMessage(uintptr_t /*window*/, unsigned int /*message*/, uintptr_t wParam,
                                    intptr_t lParam) {
    platform::SOCKET s = static_cast<platform::SOCKET>(wParam);
    if (s == platform::kInvalidSocket || s != GetSocketHandle()) return 0;
    const int event = platform::EventOfWord(lParam);
    int error = platform::ErrorOfWord(lParam);
    switch (event) {
        case platform::kFdConnect: OnConnect(error); break;
        case platform::kFdRead: {
            // A read event of the notification thread comes with the count it
            // took when it announced the event; only others are counted here.
            int64_t waiting = platform::SocketNotifier::ReadableBytesSeen(s);
            if (waiting < 0) {
                uint32_t counted = 0;
                if (platform::ioctlsocket(s, platform::kFionread, &counted) != 0) error = GetSocketError();
                waiting = counted;
            }
            if (waiting == 0 && error == 0) break;
            OnReceive(error);
            break;
        }
        case platform::kFdWrite: OnSend(error); break;
        case platform::kFdAccept: OnAccept(error); break;
        case platform::kFdClose: OnClose(error); break;
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

int CAsyncSocketEx::Startup() { return platform::AcquireSocketLibrary() ? 1 : 0; }

int CAsyncSocketEx::Cleanup() {
    platform::ReleaseSocketLibrary();
    return 1;
}
