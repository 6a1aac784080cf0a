#include "devkit/EchoPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace devkit {

EchoPeer::EchoPeer(const std::string& certFile, const std::string& keyFile) {
    if (!certFile.empty() && !keyFile.empty()) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        if (!m_ctx || SSL_CTX_use_certificate_file(m_ctx, certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            return;
    }
    if (pipe(m_wake) != 0) return;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_listenFd = fd;
    m_thread = std::thread(&EchoPeer::Serve, this);
}

EchoPeer::~EchoPeer() {
    m_stop = true;
    if (m_wake[1] >= 0) {
        char c = 1;
        ssize_t ignored = write(m_wake[1], &c, 1);
        (void)ignored;
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_listenFd >= 0) close(m_listenFd);
    for (int fd : m_wake)
        if (fd >= 0) close(fd);
    SSL_CTX_free(m_ctx);
}

bool EchoPeer::WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    while (!m_stop) {
        int n = poll(fds, 2, 1000);
        if (n < 0) return false;
        if (fds[1].revents) return false;
        if (fds[0].revents) return true;
    }
    return false;
}

void EchoPeer::Serve() {
    while (WaitReadable(m_listenFd)) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_connections;
        ServeConnection(fd);
        close(fd);
    }
}

void EchoPeer::SetGreeting(const std::string& bytes, int repeat) {
    std::lock_guard<std::mutex> lock(m_greetingLock);
    m_greeting = std::make_shared<const std::string>(bytes);
    m_greetingRepeat = repeat;
}

bool EchoPeer::WriteAll(int fd, SSL* ssl, const unsigned char* data, size_t len) {
    size_t off = 0;
    while (off < len) {
        int chunk = static_cast<int>(len - off > (1u << 20) ? (1u << 20) : len - off);
        int w = ssl ? SSL_write(ssl, data + off, chunk)
                    : static_cast<int>(send(fd, data + off, static_cast<size_t>(chunk), MSG_NOSIGNAL));
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

void EchoPeer::ServeConnection(int fd) {
    SSL* ssl = nullptr;
    if (m_ctx) {
        ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            return;
        }
    }
    // The greeting was prepared by SetGreeting; it goes out in large writes.
    std::shared_ptr<const std::string> greeting;
    int repeat;
    {
        std::lock_guard<std::mutex> lock(m_greetingLock);
        greeting = m_greeting;
        repeat = m_greetingRepeat;
    }
    bool open = true;
    for (int i = 0; i < repeat && open && greeting; ++i)
        open = WriteAll(fd, ssl, reinterpret_cast<const unsigned char*>(greeting->data()), greeting->size());
    static thread_local unsigned char buf[256 * 1024];
    while (open) {
        if (!(ssl && SSL_pending(ssl) > 0) && !WaitReadable(fd)) break;
        int n = ssl ? SSL_read(ssl, buf, sizeof buf) : static_cast<int>(recv(fd, buf, sizeof buf, 0));
        if (n <= 0) break;
        if (!WriteAll(fd, ssl, buf, static_cast<size_t>(n))) break;
        m_bytes += static_cast<uint64_t>(n);
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
}

}  // namespace devkit
