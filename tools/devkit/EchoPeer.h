#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace devkit {

// A loopback TCP peer that sends back every byte it receives. It serves one
// connection at a time on 127.0.0.1 and an ephemeral port, optionally over
// TLS, on a thread of its own until it is destroyed.
class EchoPeer {
public:
    // With both files given the peer speaks TLS with that certificate and key.
    explicit EchoPeer(const std::string& certFile = std::string(), const std::string& keyFile = std::string());
    ~EchoPeer();
    EchoPeer(const EchoPeer&) = delete;
    EchoPeer& operator=(const EchoPeer&) = delete;

    bool ok() const { return m_listenFd >= 0; }
    int port() const { return m_port; }
    // Every later connection first receives `bytes` `repeat` times, then is
    // echoed. The bytes are kept as given and written as they are, so a
    // benchmark's peer does no preparing while it is timed.
    void SetGreeting(const std::string& bytes, int repeat);
    uint64_t bytesEchoed() const { return m_bytes.load(); }
    int connections() const { return m_connections.load(); }

private:
    void Serve();
    void ServeConnection(int fd);
    bool WaitReadable(int fd);
    bool WriteAll(int fd, SSL* ssl, const unsigned char* data, size_t len);

    int m_listenFd = -1;
    int m_port = 0;
    SSL_CTX* m_ctx = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_bytes{0};
    std::atomic<int> m_connections{0};
    std::mutex m_greetingLock;
    std::shared_ptr<const std::string> m_greeting;
    int m_greetingRepeat = 0;
    std::thread m_thread;
};

}  // namespace devkit
