#include "devkit/WsClient.h"

#include <chrono>

#include "devkit/SocketCompat.h"

namespace devkit {
namespace {

constexpr const char* kRequest =
    "GET /tolvane HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

bool SendAll(int fd, const std::string& bytes) {
    for (size_t off = 0; off < bytes.size();) {
        long n = net::Send(fd, bytes.data() + off, bytes.size() - off);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WsClient::Connect(int port, int timeoutMs) {
    Close();
    m_fd = net::TcpSocket(false);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (m_fd >= 0) net::SetTimeouts(m_fd, timeoutMs);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 || !SendRaw(kRequest))
        return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t at;
    while ((at = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Fill(m_buffer.size() + 1, static_cast<int>(left.count()))) return false;
    }
    m_reply = m_buffer.substr(0, at + 4);
    m_buffer.erase(0, at + 4);
    return m_reply.compare(0, 12, "HTTP/1.1 101") == 0;
}

bool WsClient::SendRaw(const std::string& bytes) { return m_fd >= 0 && SendAll(m_fd, bytes); }

bool WsClient::SendFrame(int opcode, const std::string& payload, bool fin, bool mask) {
    m_nextKey = m_nextKey * 1664525u + 1013904223u;
    return SendRaw(EncodeFrame(opcode, payload, fin, mask, m_nextKey));
}

std::string WsClient::EncodeFrame(int opcode, const std::string& payload, bool fin, bool mask, uint32_t key) {
    std::string frame;
    frame += static_cast<char>((fin ? 0x80 : 0) | (opcode & 0x0F));
    const uint64_t n = payload.size();
    const char maskBit = mask ? static_cast<char>(0x80) : 0;
    if (n < 126) {
        frame += static_cast<char>(maskBit | static_cast<char>(n));
    } else if (n < 65536) {
        frame += static_cast<char>(maskBit | 126);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n & 0xFF);
    } else {
        frame += static_cast<char>(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
    }
    if (!mask) return frame + payload;
    const unsigned char k[4] = {static_cast<unsigned char>(key >> 24), static_cast<unsigned char>(key >> 16),
                                static_cast<unsigned char>(key >> 8), static_cast<unsigned char>(key)};
    frame.append(reinterpret_cast<const char*>(k), 4);
    for (size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ k[i % 4]);
    return frame;
}

bool WsClient::Fill(size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_buffer.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (m_fd < 0 || left.count() <= 0 || !net::WaitFor(m_fd, POLLIN, static_cast<int>(left.count())))
            return false;
        char buf[65536];
        long n = net::Recv(m_fd, buf, sizeof buf, true);
        if (n < 0 && net::WouldBlock()) continue;
        if (n <= 0) return false;
        m_buffer.append(buf, static_cast<size_t>(n));
    }
    return true;
}

bool WsClient::ReadFrame(int* opcode, std::string* payload, int timeoutMs) {
    if (!Fill(2, timeoutMs)) return false;
    const unsigned char b1 = static_cast<unsigned char>(m_buffer[1]);
    const size_t extra = (b1 & 0x7F) == 126 ? 2 : (b1 & 0x7F) == 127 ? 8 : 0;
    const size_t maskLen = (b1 & 0x80) ? 4 : 0;
    if (!Fill(2 + extra + maskLen, timeoutMs)) return false;
    uint64_t n = b1 & 0x7F;
    if (extra) {
        n = 0;
        for (size_t i = 0; i < extra; ++i) n = (n << 8) | static_cast<unsigned char>(m_buffer[2 + i]);
    }
    const size_t head = 2 + extra + maskLen;
    if (n > (1u << 30) || !Fill(head + n, timeoutMs)) return false;
    *opcode = static_cast<unsigned char>(m_buffer[0]) & 0x0F;
    payload->assign(m_buffer, head, n);
    for (size_t i = 0; maskLen && i < n; ++i) (*payload)[i] ^= m_buffer[2 + extra + i % 4];
    m_buffer.erase(0, head + n);
    return true;
}

bool WsClient::WaitClosed(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !net::WaitFor(m_fd, POLLIN, static_cast<int>(left.count()))) return false;
        char buf[4096];
        long n = net::Recv(m_fd, buf, sizeof buf, true);
        if (n == 0 || (n < 0 && !net::WouldBlock())) return true;
    }
    return true;
}

void WsClient::Close() {
    if (m_fd >= 0) net::Close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

}  // namespace devkit
