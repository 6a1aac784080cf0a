#pragma once
#include <string>
#include <vector>

#include "support/TcpConnection.h"

namespace testsupport {

// A scripted TCP peer on 127.0.0.1 and an ephemeral port. Every call that
// waits has a time limit. One accepted connection is current at a time.
class LoopbackPeer {
public:
    explicit LoopbackPeer(int backlog = 8);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int port() const { return m_port; }
    // Accepts the next connection (closing the current one); false on time-out.
    bool Accept(int timeoutMs = 5000);
    bool Send(const std::string& bytes) { return m_conn.Send(bytes); }
    // Reads until `count` bytes arrived or the time passed; returns what came.
    std::string Receive(size_t count, int timeoutMs = 5000) { return m_conn.Receive(count, timeoutMs); }
    // Closes the current connection with FIN, or with RST.
    void Close() { m_conn.Close(); }
    void Reset() { m_conn.Reset(); }

private:
    int m_listenFd = -1;
    int m_port = 0;
    TcpConnection m_conn;
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
