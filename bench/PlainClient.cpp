#include "PlainClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

PlainClient::PlainClient(int port, bool tls) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) close(fd);
        return;
    }
    if (tls) {
        m_ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(m_ctx, TLS1_2_VERSION);  // as the library's default method
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, fd);
        if (SSL_connect(m_ssl) != 1) {
            close(fd);
            return;
        }
    }
    m_fd = fd;
}

PlainClient::~PlainClient() {
    if (m_ssl) {
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
    }
    SSL_CTX_free(m_ctx);
    if (m_fd >= 0) close(m_fd);
}

bool PlainClient::SendFrame(const std::string& body) {
    uint32_t n = htonl(static_cast<uint32_t>(body.size()));
    m_frame.assign(reinterpret_cast<const char*>(&n), 4);
    m_frame += body;
    return SendBytes(m_frame);
}

bool PlainClient::SendBytes(const std::string& frame) {
    size_t off = 0;
    while (off < frame.size()) {
        int w = m_ssl ? SSL_write(m_ssl, frame.data() + off, static_cast<int>(frame.size() - off))
                      : static_cast<int>(send(m_fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL));
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

bool PlainClient::ReadExactly(char* data, size_t len) {
    while (m_end - m_begin < len) {
        if (m_begin) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        const size_t room = m_buffer.size() - m_end;
        const int want = static_cast<int>(room > (1u << 30) ? (1u << 30) : room);
        int n = m_ssl ? SSL_read(m_ssl, m_buffer.data() + m_end, want)
                      : static_cast<int>(recv(m_fd, m_buffer.data() + m_end, static_cast<size_t>(want), 0));
        if (n <= 0) return false;
        m_end += static_cast<size_t>(n);
        if (onRead) onRead(static_cast<size_t>(n));
    }
    std::memcpy(data, m_buffer.data() + m_begin, len);
    m_begin += len;
    return true;
}

bool PlainClient::RecvFrame(std::string* body) {
    uint32_t n = 0;
    if (!ReadExactly(reinterpret_cast<char*>(&n), 4)) return false;
    body->resize(ntohl(n));
    return body->empty() || ReadExactly(&(*body)[0], body->size());
}
