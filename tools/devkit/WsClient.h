#pragma once
#include <cstdint>
#include <string>

namespace devkit {

// A small WebSocket client for loopback tests, the demo and the benchmark:
// connects to 127.0.0.1, sends the opening request and frames (masked, as a
// client must), and reads the server's frames. Every wait has a time limit.
class WsClient {
public:
    WsClient() = default;
    ~WsClient() { Close(); }
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;

    // TCP connection and opening handshake; true when the server answered 101.
    bool Connect(int port, int timeoutMs = 5000);
    // One frame; `mask` false sends it unmasked (which a client must not do).
    bool SendFrame(int opcode, const std::string& payload, bool fin = true, bool mask = true);
    bool SendRaw(const std::string& bytes);
    // The next frame's opcode and payload; false on time-out or end of stream.
    bool ReadFrame(int* opcode, std::string* payload, int timeoutMs = 5000);
    // True when the server ends the connection within the time (frames that
    // arrive meanwhile are dropped).
    bool WaitClosed(int timeoutMs = 5000);
    void Close();
    const std::string& reply() const { return m_reply; }

    // The bytes of one frame, masked with `key` when `mask` is set.
    static std::string EncodeFrame(int opcode, const std::string& payload, bool fin, bool mask, uint32_t key);

private:
    // Appends bytes to the buffer until it holds `count`; false on time-out.
    bool Fill(size_t count, int timeoutMs);

    int m_fd = -1;
    std::string m_buffer;  // received, not yet consumed
    std::string m_reply;   // the server's opening reply
    uint32_t m_nextKey = 0x1a2b3c4d;
};

}  // namespace devkit
