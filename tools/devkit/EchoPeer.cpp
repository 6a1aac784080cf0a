#include "devkit/EchoPeer.h"

#include "devkit/SocketCompat.h"

#if TOLVANE_HAVE_TLS
#include <openssl/ssl.h>
#endif

namespace devkit {
namespace {
// The TLS calls of a connection; a build without OpenSSL makes no connection objects.
#if TOLVANE_HAVE_TLS
int Write(SSL* ssl, const unsigned char* data, int len) { return SSL_write(ssl, data, len); }
int Read(SSL* ssl, unsigned char* data, int len) { return SSL_read(ssl, data, len); }
bool Pending(SSL* ssl) { return SSL_pending(ssl) > 0; }
#else
int Write(SSL*, const unsigned char*, int) { return -1; }
int Read(SSL*, unsigned char*, int) { return -1; }
bool Pending(SSL*) { return false; }
#endif
}  // namespace

EchoPeer::EchoPeer(const std::string& certFile, const std::string& keyFile) {
    if (!certFile.empty() && !keyFile.empty()) {
#if TOLVANE_HAVE_TLS
        m_ctx = SSL_CTX_new(TLS_server_method());
        if (!m_ctx || SSL_CTX_use_certificate_file(m_ctx, certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
#endif
            return;
    }
    int fd = net::TcpSocket(false);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    net::SockLen len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        net::Close(fd);
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_listenFd = fd;
    m_thread = std::thread(&EchoPeer::Serve, this);
}

EchoPeer::~EchoPeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listenFd >= 0) net::Close(m_listenFd);
#if TOLVANE_HAVE_TLS
    SSL_CTX_free(m_ctx);
#endif
}

// Waits in short slices, so that the destructor's stop is seen soon.
bool EchoPeer::WaitReadable(int fd) {
    while (!m_stop) {
        pollfd p{};
        p.fd = fd;
        p.events = POLLIN;
        int n = net::Poll(&p, 1, 50);
        if (n < 0) return false;
        if (p.revents) return true;
    }
    return false;
}

void EchoPeer::Serve() {
    while (WaitReadable(m_listenFd)) {
        int fd = net::Accept(m_listenFd);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        ++m_connections;
        ServeConnection(fd);
        net::Close(fd);
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
        int w = ssl ? Write(ssl, data + off, chunk)
                    : static_cast<int>(net::Send(fd, data + off, static_cast<size_t>(chunk)));
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

void EchoPeer::ServeConnection(int fd) {
    SSL* ssl = nullptr;
#if TOLVANE_HAVE_TLS
    if (m_ctx) {
        ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            return;
        }
    }
#endif
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
        if (!(ssl && Pending(ssl)) && !WaitReadable(fd)) break;
        int n = ssl ? Read(ssl, buf, sizeof buf) : static_cast<int>(net::Recv(fd, buf, sizeof buf));
        if (n <= 0) break;
        if (!WriteAll(fd, ssl, buf, static_cast<size_t>(n))) break;
        m_bytes += static_cast<uint64_t>(n);
    }
#if TOLVANE_HAVE_TLS
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
#endif
}

}  // namespace devkit
