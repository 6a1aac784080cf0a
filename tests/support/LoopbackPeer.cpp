#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace testsupport {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

int Listen(int backlog, int* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

LoopbackPeer::LoopbackPeer(int backlog) { m_listenFd = Listen(backlog, &m_port); }

LoopbackPeer::~LoopbackPeer() {
    Close();
    if (m_listenFd >= 0) close(m_listenFd);
}

bool LoopbackPeer::Accept(int timeoutMs) {
    Close();
    if (m_listenFd < 0 || !WaitReadable(m_listenFd, timeoutMs)) return false;
    m_connFd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    return m_connFd >= 0;
}

bool LoopbackPeer::Send(const std::string& bytes) {
    for (size_t off = 0; off < bytes.size();) {
        ssize_t n = m_connFd < 0 ? -1 : send(m_connFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return m_connFd >= 0;
}

std::string LoopbackPeer::Receive(size_t count, int timeoutMs) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_connFd >= 0 && got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(m_connFd, static_cast<int>(left.count()))) break;
        char buf[65536];
        ssize_t n = recv(m_connFd, buf, sizeof buf < count - got.size() ? sizeof buf : count - got.size(), 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void LoopbackPeer::Close() {
    if (m_connFd >= 0) close(m_connFd);
    m_connFd = -1;
}

void LoopbackPeer::Reset() {
    if (m_connFd < 0) return;
    linger l{1, 0};
    setsockopt(m_connFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

int RefusingPort() {
    int port = 0;
    int fd = Listen(1, &port);
    if (fd >= 0) close(fd);
    return port;
}

FullBacklogListener::FullBacklogListener() {
    m_listenFd = Listen(0, &m_port);
    const sockaddr_in addr = Loopback(m_port);
    // Fill the accept queue; further handshakes are then not completed.
    for (int i = 0; m_listenFd >= 0 && i < 4; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        m_fillers.push_back(fd);
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : m_fillers) close(fd);
    if (m_listenFd >= 0) close(m_listenFd);
}

}  // namespace testsupport
