#include "support/Loopback.h"

#include "devkit/LoopbackPort.h"
#include "devkit/SocketCompat.h"

#include <chrono>

namespace testsupport {
namespace {

using devkit::net::WaitFor;

int MsLeft(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

int Listen(int backlog, int* port) {
    int fd = devkit::net::TcpSocket(false);
    sockaddr_in addr = Loopback(0);
    devkit::net::SockLen len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) devkit::net::Close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

bool TcpConnection::Connect(int port, const char* sourceIp, int timeoutMs) {
    Close();
    int fd = devkit::net::TcpSocket(true);
    if (fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, sourceIp, &local.sin_addr);
    const sockaddr_in peer = Loopback(port);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    if (ok && connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0)
        ok = devkit::net::WouldBlock() && WaitFor(fd, POLLOUT, timeoutMs) && devkit::net::PendingError(fd) == 0;
    if (!ok) {
        devkit::net::Close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void TcpConnection::Adopt(int fd) {
    Close();
    m_fd = fd;
}

bool TcpConnection::Send(const std::string& bytes) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (size_t off = 0; off < bytes.size();) {
        long n = m_fd < 0 ? -1 : devkit::net::Send(m_fd, bytes.data() + off, bytes.size() - off, true);
        if (n > 0) {
            off += static_cast<size_t>(n);
        } else if (n < 0 && devkit::net::WouldBlock() && MsLeft(end) > 0) {
            WaitFor(m_fd, POLLOUT, MsLeft(end));
        } else {
            return false;
        }
    }
    return m_fd >= 0;
}

std::string TcpConnection::Receive(size_t count, int timeoutMs) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd >= 0 && got.size() < count) {
        if (MsLeft(end) <= 0 || !WaitFor(m_fd, POLLIN, MsLeft(end))) break;
        char buf[65536];
        long n = devkit::net::Recv(m_fd, buf, sizeof buf < count - got.size() ? sizeof buf : count - got.size(), true);
        if (n < 0 && devkit::net::WouldBlock()) continue;
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool TcpConnection::WaitClosed(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd >= 0 && MsLeft(end) > 0) {
        if (!WaitFor(m_fd, POLLIN, MsLeft(end))) return false;
        char buf[4096];
        long n = devkit::net::Recv(m_fd, buf, sizeof buf, true);
        if (n == 0 || (n < 0 && !devkit::net::WouldBlock())) return true;
    }
    return false;
}

void TcpConnection::MakeBlocking(int timeoutMs) {
    if (m_fd < 0) return;
    devkit::net::SetNonBlocking(m_fd, false);
    devkit::net::SetTimeouts(m_fd, timeoutMs);
}

void TcpConnection::Close() {
    if (m_fd >= 0) devkit::net::Close(m_fd);
    m_fd = -1;
}

void TcpConnection::Reset() {
    if (m_fd < 0) return;
    linger l{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    Close();
}

LoopbackPeer::LoopbackPeer(int backlog) { m_listenFd = Listen(backlog, &m_port); }

LoopbackPeer::~LoopbackPeer() {
    if (m_listenFd >= 0) devkit::net::Close(m_listenFd);
}

bool LoopbackPeer::Accept(int timeoutMs) {
    Close();
    if (m_listenFd < 0 || !WaitFor(m_listenFd, POLLIN, timeoutMs)) return false;
    int fd = devkit::net::Accept(m_listenFd);
    if (fd >= 0) devkit::net::LetCallsNotWait(fd);
    if (fd >= 0) Adopt(fd);
    return fd >= 0;
}

int RefusingPort() { return devkit::FreeLoopbackPort(); }

FullBacklogListener::FullBacklogListener() {
    m_listenFd = Listen(0, &m_port);
    const sockaddr_in addr = Loopback(m_port);
    // Fill the accept queue; further handshakes are then not completed.
    for (int i = 0; m_listenFd >= 0 && i < 4; ++i) {
        int fd = devkit::net::TcpSocket(true);
        connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        m_fillers.push_back(fd);
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : m_fillers) devkit::net::Close(fd);
    if (m_listenFd >= 0) devkit::net::Close(m_listenFd);
}

}  // namespace testsupport
