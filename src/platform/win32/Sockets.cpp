#include "platform/Sockets.h"

#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "platform/win32/Windows.h"
#include <ws2tcpip.h>

// The native Winsock calls. The platform's records and option values are
// Winsock's own (SOCKADDR_IN4 is a sockaddr_in, LINGER_WIN a linger), so
// most calls pass their arguments straight through.
namespace platform {
namespace {

static_assert(sizeof(SOCKADDR_IN4) == sizeof(sockaddr_in), "IPv4 address records differ");
static_assert(sizeof(LINGER_WIN) == sizeof(linger), "linger records differ");
static_assert(sizeof(SOCKET) == sizeof(::SOCKET), "socket handles differ");

::SOCKET Native(SOCKET s) { return static_cast<::SOCKET>(s); }
sockaddr* Native(SOCKADDR_IN4* address) { return reinterpret_cast<sockaddr*>(address); }
const sockaddr* Native(const SOCKADDR_IN4* address) { return reinterpret_cast<const sockaddr*>(address); }

int FailWith(int error) {
    ::WSASetLastError(error);
    return kSocketError;
}

// Winsock cannot tell whether a socket is non-blocking, so the handles made
// non-blocking here (FIONBIO, event selection, accepted from such a
// listener) are remembered until they are closed.
std::mutex g_nonBlockingLock;
std::unordered_set<SOCKET> g_nonBlocking;

void RememberNonBlocking(SOCKET s, bool on) {
    std::lock_guard<std::mutex> lock(g_nonBlockingLock);
    if (on) g_nonBlocking.insert(s); else g_nonBlocking.erase(s);
}

std::mutex g_libraryLock;
int g_libraryUsers = 0;

}  // namespace

bool AcquireSocketLibrary() {
    std::lock_guard<std::mutex> lock(g_libraryLock);
    if (g_libraryUsers == 0) {
        WSADATA data{};
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    }
    ++g_libraryUsers;
    return true;
}

void ReleaseSocketLibrary() {
    std::lock_guard<std::mutex> lock(g_libraryLock);
    if (g_libraryUsers > 0 && --g_libraryUsers == 0) ::WSACleanup();
}

bool ReuseAddressBeforeBind() { return false; }

int WSAGetLastError() { return ::WSAGetLastError(); }
void WSASetLastError(int error) { ::WSASetLastError(error); }
int MapErrno(int error) { return error; }

SOCKET socket(int family, int type, int protocol) {
    ::SOCKET s = ::socket(family, type, protocol);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    // Like a descriptor opened close-on-exec: child processes do not inherit it.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SOCKET>(s);
}

int bind(SOCKET s, const SOCKADDR_IN4* address, int length) { return ::bind(Native(s), Native(address), length); }

int listen(SOCKET s, int backlog) { return ::listen(Native(s), backlog); }

SOCKET accept(SOCKET s, SOCKADDR_IN4* address, int* length) {
    ::SOCKET client = ::accept(Native(s), address ? Native(address) : nullptr, address ? length : nullptr);
    if (client == INVALID_SOCKET) return kInvalidSocket;
    // The new socket has the listening socket's properties, non-blocking mode included.
    if (IsNonBlocking(s)) RememberNonBlocking(static_cast<SOCKET>(client), true);
    return static_cast<SOCKET>(client);
}

int connect(SOCKET s, const SOCKADDR_IN4* address, int length) {
    return ::connect(Native(s), Native(address), length);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    return ::recv(Native(s), static_cast<char*>(buffer), length, flags);
}

int send(SOCKET s, const void* buffer, int length, int flags) {
    return ::send(Native(s), static_cast<const char*>(buffer), length, flags);
}

int closesocket(SOCKET s) {
    RememberNonBlocking(s, false);
    return ::closesocket(Native(s));
}

// A shutdown of both directions also ends a call that waits on the socket in
// another thread (a blocking recv of the TLS handshake), as it does on Linux:
// Winsock lets such a call wait on, so its pending I/O is cancelled.
int shutdown(SOCKET s, int how) {
    const int result = ::shutdown(Native(s), how);
    if (result == 0 && how == SD_BOTH) ::CancelIoEx(reinterpret_cast<HANDLE>(Native(s)), nullptr);
    return result;
}

int setsockopt(SOCKET s, int level, int option, const void* value, int length) {
    return ::setsockopt(Native(s), level, option, static_cast<const char*>(value), length);
}

int ioctlsocket(SOCKET s, long command, uint32_t* argument) {
    if (!argument) return FailWith(WSAEFAULT);
    u_long value = *argument;
    if (::ioctlsocket(Native(s), command, &value) != 0) return kSocketError;
    if (command == kFionbio) RememberNonBlocking(s, value != 0);
    *argument = static_cast<uint32_t>(value);
    return 0;
}

int WSAIoctl(SOCKET s, unsigned long code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
             uint32_t* bytesReturned) {
    DWORD returned = 0;
    int result = ::WSAIoctl(Native(s), static_cast<DWORD>(code), const_cast<void*>(in), inLength, out, outLength,
                            &returned, nullptr, nullptr);
    if (bytesReturned) *bytesReturned = returned;
    return result;
}

int getpeername(SOCKET s, SOCKADDR_IN4* address, int* length) {
    return ::getpeername(Native(s), Native(address), length);
}

int getsockname(SOCKET s, SOCKADDR_IN4* address, int* length) {
    return ::getsockname(Native(s), Native(address), length);
}

uint32_t inet_addr(const char* text) {
    if (!text) return kInaddrNone;
    return ::inet_addr(text);
}

const char* inet_ntoa(uint32_t address) {
    thread_local char buffer[16];
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return buffer;
}

bool ResolveHostIPv4(const char* name, uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!name || ::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
        if (found) ::freeaddrinfo(found);
        ::WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool IsNonBlocking(SOCKET s) {
    std::lock_guard<std::mutex> lock(g_nonBlockingLock);
    return g_nonBlocking.count(s) != 0;
}

}  // namespace platform
