#pragma once
// A WebSocket layer over a loopback connection: the layer's trace lines and
// messages are recorded, and the peer end checks what the layer sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackPeer.h"
#include "websocket/WebSocket.h"

namespace wstest {

struct TraceLine {
    int direction;
    std::string text;
};

class RecordingWebSocket : public CWebSocket {
public:
    ~RecordingWebSocket() override {
        m_SocketWnd.DestroySocketWindow();
        Close();
    }
    void WriteLog(const char* format, ...) override {
        va_list args;
        va_start(args, format);
        Note(0, format, args);
        va_end(args);
    }
    void WriteLogEx(int direction, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        Note(direction, format, args);
        va_end(args);
    }
    // Reads arrive here only when read events were selected.
    void OnReceive(int /*error*/) override {
        const int n = Receive(m_read.data(), static_cast<int>(m_read.size()), 0);
        if (n > 0) ProcessWSData(m_read.data(), n);
    }
    void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
        m_messageIsBlock = m_messageIsBlock && block->data == data && block->length == static_cast<uint32_t>(length);
    }

    std::vector<TraceLine> Lines() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_lines;
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages;
    }
    bool MessagesCameInTheirBlock() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messageIsBlock;
    }
    size_t Count(const std::string& needle) {
        auto lines = Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const TraceLine& l) { return l.text.find(needle) != std::string::npos; });
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lines.clear();
        m_messages.clear();
    }
    // Every block keeps its length within the block and zeros behind it.
    bool BlocksAreSound() const {
        for (const _DATA_BLOCK* b : {&m_CombineBlock, &m_ControlBlock, &m_DecodeBlock, &m_FrameBlock, &m_PayloadBlock})
            if (b->length > kDataBlockBytes ||
                std::any_of(b->data + b->length, b->data + kDataBlockBytes, [](unsigned char c) { return c != 0; }))
                return false;
        return true;
    }

private:
    void Note(int direction, const char* format, va_list args) {
        stringx text;
        StringFormatV(text, format, args, 1);
        std::lock_guard<std::mutex> lock(m_lock);
        m_lines.push_back({direction, text});
    }

    std::vector<unsigned char> m_read = std::vector<unsigned char>(kDataBlockBytes);
    std::mutex m_lock;
    std::vector<TraceLine> m_lines;
    std::vector<std::string> m_messages;
    bool m_messageIsBlock = true;
};

inline std::string Bytes(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }

// One frame as a peer would send it. `lengthForm` 0 picks the shortest form;
// 126 and 127 force the 2- and 8-byte forms.
inline std::string Frame(int byte0, const std::string& payload, const std::string& maskKey = "",
                         int lengthForm = 0) {
    std::string frame(1, static_cast<char>(byte0));
    const uint64_t n = payload.size();
    const int maskBit = maskKey.empty() ? 0 : 0x80;
    if (lengthForm == 0) lengthForm = n < 126 ? 0 : n < 65536 ? 126 : 127;
    if (lengthForm == 0) {
        frame += static_cast<char>(maskBit | static_cast<int>(n));
    } else {
        frame += static_cast<char>(maskBit | lengthForm);
        for (int i = lengthForm == 126 ? 1 : 7; i >= 0; --i) frame += static_cast<char>(n >> (8 * i));
    }
    frame += maskKey;
    for (size_t i = 0; i < n; ++i) frame += maskKey.empty() ? payload[i] : static_cast<char>(payload[i] ^ maskKey[i % 4]);
    return frame;
}

inline const char kSampleKey[] = "dGhlIHNhbXBsZSBub25jZQ==";
inline const char kSampleRequest[] =
    "GET /chat HTTP/1.1\r\n"
    "Host: server.example.com\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Origin: http://example.com\r\n"
    "Sec-WebSocket-Protocol: chat, superchat\r\n"
    "Sec-WebSocket-Version: 13\r\n"
    "\r\n";
inline const char kSampleReply[] =
    "HTTP/1.1 101 Web Socket Protocol Handshake\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
    "\r\n";

// A WebSocket layer connected to a loopback peer, read by the test thread.
class WebSocketTest : public ::testing::Test {
protected:
    static constexpr char kMark[] = "<mark>";

    void SetUp() override {
        ws->SetWebsocket(1);
        ws->SetUTF8TextData(0);
        Connect();
    }
    void Connect() {
        ASSERT_TRUE(ws->Create(0, nullptr, 1, 0));
        ws->Connect("127.0.0.1", peer.port());
        ASSERT_TRUE(peer.Accept(2000));
    }
    int Feed(const std::string& bytes) {
        return ws->ProcessWSData(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    void OpenWebSocket() {
        ASSERT_EQ(1, Feed(kSampleRequest));
        ASSERT_EQ(kSampleReply, Sent(sizeof kSampleReply - 1));
        ws->Forget();
    }
    // The next `count` bytes the layer sent, checked to be all it sent: a
    // mark sent behind them must follow at once.
    std::string Sent(size_t count) {
        ws->CAsyncSocketEx::Send(kMark, sizeof kMark - 1, 0);
        std::string got = peer.Receive(count + sizeof kMark - 1, 2000);
        if (got.size() < sizeof kMark - 1 || got.compare(got.size() - (sizeof kMark - 1), std::string::npos, kMark) != 0)
            return "<not all sent: " + got + ">";
        return got.substr(0, count);
    }

    testsupport::LoopbackPeer peer;
    std::unique_ptr<RecordingWebSocket> ws = std::make_unique<RecordingWebSocket>();
};

}  // namespace wstest
