#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

// The yardstick for the library: a blocking-socket client that frames
// messages the same way (4-byte big-endian length, header mode 5), optionally
// over TLS, with no tracing, no queue and no threads of its own.
class PlainClient {
public:
    PlainClient(int port, bool tls);
    ~PlainClient();
    PlainClient(const PlainClient&) = delete;
    PlainClient& operator=(const PlainClient&) = delete;

    bool ok() const { return m_fd >= 0; }
    bool SendFrame(const std::string& body);
    // Writes bytes prepared by the caller (many frames at once) as they are.
    bool SendBytes(const std::string& bytes);
    // Reads one whole frame and returns its body; false when the stream ended.
    bool RecvFrame(std::string* body);

    // Told the byte count of every socket read, when set.
    std::function<void(size_t)> onRead;

private:
    bool ReadExactly(char* data, size_t len);

    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    // Bytes read but not yet handed out lie in m_buffer[m_begin, m_end); reads
    // fill it as far as they can, so one recv brings in hundreds of messages.
    std::vector<char> m_buffer = std::vector<char>(4 << 20);
    std::string m_frame;  // the frame being sent; kept, so that a send allocates nothing
    size_t m_begin = 0, m_end = 0;
};
