#pragma once
#include <string>
#include <utility>
#include <vector>

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
    // Takes over a connected descriptor (closing the current one), or gives it up unclosed.
    void Adopt(int fd);
    int Release() { return std::exchange(m_fd, -1); }
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

// A scripted TCP peer on 127.0.0.1 and an ephemeral port: the connection it
// accepted last is the current one (the TcpConnection part).
class LoopbackPeer : public TcpConnection {
public:
    explicit LoopbackPeer(int backlog = 8);
    ~LoopbackPeer();
    int port() const { return m_port; }
    // Accepts the next connection (closing the current one); false on time-out.
    bool Accept(int timeoutMs = 5000);

private:
    int m_listenFd = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 that refuses connections (nothing listens on it).
int RefusingPort();

// A listener whose accept queue is full, so that a further connect hangs.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    int port() const { return m_port; }

private:
    int m_listenFd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

}  // namespace testsupport
