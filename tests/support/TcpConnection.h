#pragma once
#include <string>

namespace testsupport {

// One TCP connection of a test, on the loopback network. Every call that
// waits has a time limit.
class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection() { Close(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects from `sourceIp` (any 127.x.y.z) to 127.0.0.1:port.
    bool Connect(int port, const char* sourceIp = "127.0.0.1", int timeoutMs = 5000);
    // Takes over a connected descriptor (closing the current one).
    void Adopt(int fd);
    bool Send(const std::string& bytes);
    // Reads until `count` bytes arrived or the time passed; returns what came.
    std::string Receive(size_t count, int timeoutMs = 5000);
    // True when the other side closes (end of stream or reset) within the time;
    // data that arrive meanwhile are dropped.
    bool WaitClosed(int timeoutMs = 5000);
    // Closes with FIN, or with RST.
    void Close();
    void Reset();
    // Switches to blocking mode with send and receive time-outs, for code that
    // reads and writes the descriptor itself (a TLS library).
    void MakeBlocking(int timeoutMs = 5000);
    bool IsOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace testsupport
