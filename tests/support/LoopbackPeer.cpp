#include "support/LoopbackPeer.h"

#include "devkit/LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) m_conn.Adopt(fd);
    return fd >= 0;
}

int RefusingPort() { return devkit::FreeLoopbackPort(); }

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
