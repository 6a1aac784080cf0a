#pragma once
// The WebSocket layer over a loopback connection: trace lines (as
// "<direction>|<text>") and messages are recorded, the peer end checks what
// the layer sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/Loopback.h"
#include "support/TestSupport.h"
#include "websocket/WebSocket.h"

namespace wstest {

using Strings = std::vector<std::string>;

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
    void OnReceive(int) override {  // only when read events are selected
        const int n = Receive(m_read.data(), static_cast<int>(m_read.size()), 0);
        if (n > 0) ProcessWSData(m_read.data(), n);
    }
    void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
        if (block->data != data || block->length != static_cast<uint32_t>(length)) m_messages.back() += "<not its block>";
    }
    Strings Lines() { return Locked(m_lines); }
    Strings Messages() { return Locked(m_messages); }
    size_t Count(const std::string& needle) {
        Strings lines = Lines();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(needle) != l.npos; });
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lines.clear();
        m_messages.clear();
    }

private:
    void Note(int direction, const char* format, va_list args) {
        stringx text;
        StringFormatV(text, format, args, 1);
        std::lock_guard<std::mutex> lock(m_lock);
        m_lines.push_back(std::to_string(direction) + "|" + text);
    }
    Strings Locked(const Strings& strings) {
        std::lock_guard<std::mutex> lock(m_lock);
        return strings;
    }

    std::vector<unsigned char> m_read = std::vector<unsigned char>(kDataBlockBytes);
    std::mutex m_lock;
    Strings m_lines, m_messages;
};

using testsupport::Bytes;

// A frame as a peer sends it; `form` 126 or 127 forces the 2- or 8-byte length.
inline std::string Frame(int byte0, const std::string& payload, const std::string& mask = "", int form = 0) {
    const uint64_t n = payload.size();
    if (form == 0) form = n < 126 ? 0 : n < 65536 ? 126 : 127;
    std::string frame = Bytes({byte0, (mask.empty() ? 0 : 0x80) | (form ? form : static_cast<int>(n))});
    for (int i = form == 126 ? 1 : form ? 7 : -1; i >= 0; --i) frame += static_cast<char>(n >> (8 * i));
    frame += mask;
    for (size_t i = 0; i < n; ++i) frame += static_cast<char>(payload[i] ^ (mask.empty() ? 0 : mask[i % 4]));
    return frame;
}

inline const std::string kSampleRequest =
    "GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: http://example.com\r\n"
    "Sec-WebSocket-Protocol: chat, superchat\r\nSec-WebSocket-Version: 13\r\n\r\n";
inline const std::string kSampleReply =
    "HTTP/1.1 101 Web Socket Protocol Handshake\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

// A WebSocket socket (no conversion) connected to a peer; the test thread feeds it.
class WebSocketTest : public ::testing::Test {
protected:
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
    void Open() {
        ASSERT_EQ(1, Feed(kSampleRequest));
        ASSERT_EQ(kSampleReply, Sent(kSampleReply.size()));
        ws->Forget();
    }
    // The next `count` bytes sent, checked to be all: a mark sent behind them follows at once.
    std::string Sent(size_t count) {
        const std::string mark = "<mark>";
        ws->CAsyncSocketEx::Send(mark.data(), static_cast<int>(mark.size()), 0);
        std::string got = peer.Receive(count + mark.size(), 2000);
        return got.size() == count + mark.size() && got.substr(count) == mark ? got.substr(0, count) : "<" + got + ">";
    }

    testsupport::LoopbackPeer peer;
    std::unique_ptr<RecordingWebSocket> ws = std::make_unique<RecordingWebSocket>();
};

}  // namespace wstest
