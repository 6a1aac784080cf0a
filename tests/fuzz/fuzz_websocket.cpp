// The WebSocket layer fed as a server session reads: the opening request,
// then frames, as designed or with "WebsocketStrict", with or without split
// reads and text conversion. Every reply must be a well-formed server frame
// (a strict close with a status a server may send), no message may exceed a
// block, the blocks stay clean, and with split reads the messages and replies
// must not depend on how the stream was cut into reads.
//
// Input: one configuration byte, then chunks: a byte c below 0xF0 gives the
// next c + 1 bytes; c from 0xF0 on a frame with the next byte as its first
// byte and (next byte % 128 + 1) KiB of payload (masked when c is odd), which
// reaches the layer in two reads when c & 2 is set, else in reads as large as
// a session makes.
#include <algorithm>
#include <cstdarg>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "common/SessionReads.h"
#include "websocket/WebSocket.h"

namespace {

using Bytes = std::string;

class FuzzedWebSocket : public CWebSocket {
public:
    ~FuzzedWebSocket() override { m_SocketWnd.DestroySocketWindow(); }
    void WriteLog(const char*, ...) override {}
    // Only the error lines are kept: they tell which reads were dropped.
    void WriteLogEx(int direction, const char* format, ...) override {
        if (direction != 3) return;
        va_list args;
        va_start(args, format);
        stringx text;
        StringFormatV(text, format, args, 1);
        va_end(args);
        errors += text;
    }
    int Send(const void* data, int length, int) override {
        const Bytes bytes(static_cast<const char*>(data), static_cast<size_t>(length));
        CheckSent(bytes);
        events.push_back("S" + bytes);
        return length;
    }
    void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block) override {
        FUZZ_CHECK(block && block->data == data && block->length == static_cast<uint32_t>(length));
        FUZZ_CHECK(length > 0 && static_cast<uint32_t>(length) <= kDataBlockBytes);
        events.push_back("M" + Bytes(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
    }
    void EndConnection() override {
        ended = true;
        CWebSocket::EndConnection();
    }
    bool BlocksAreClean() const {
        for (const _DATA_BLOCK* b : {&m_CombineBlock, &m_ControlBlock, &m_DecodeBlock, &m_FrameBlock, &m_PayloadBlock})
            if (b->length > kDataBlockBytes || !fuzz::AllZero(b->data + b->length, kDataBlockBytes - b->length))
                return false;
        return true;
    }

    std::vector<Bytes> events;  // "S" + sent bytes, "M" + message
    Bytes errors;               // direction-3 traces
    bool ended = false;
    bool strict = false;
    bool refused = false;  // a 400 reply went out

private:
    // A reply is the handshake answer, in strict mode the refusal of what is
    // no opening request, or one unmasked final control frame.
    void CheckSent(const Bytes& s) {
        if (strict && s.compare(0, 13, "HTTP/1.1 400 ") == 0) {
            FUZZ_CHECK(s.compare(s.size() - 4, 4, "\r\n\r\n") == 0);
            refused = true;
            return;
        }
        if (s.compare(0, 13, "HTTP/1.1 101 ") == 0) {
            FUZZ_CHECK(s.size() == 139 && s.compare(s.size() - 4, 4, "\r\n\r\n") == 0);
            return;
        }
        FUZZ_CHECK(s.size() >= 2);
        const int opcode = s[0] & 0x0F;
        const size_t payload = static_cast<unsigned char>(s[1]);
        FUZZ_CHECK((s[0] & 0xF0) == 0x80 && (opcode == 8 || opcode == 10));
        FUZZ_CHECK(payload <= 125 && s.size() == 2 + payload);
        if (!strict) {
            FUZZ_CHECK(payload == 0);
            return;
        }
        if (opcode != 8) return;
        FUZZ_CHECK(payload == 0 || payload == 2);  // a server's close carries its status only
        if (payload == 2) {
            const int code = static_cast<unsigned char>(s[2]) << 8 | static_cast<unsigned char>(s[3]);
            FUZZ_CHECK((code >= 1000 && code <= 1014 && code != 1004 && code != 1005 && code != 1006) ||
                       (code >= 3000 && code <= 4999));
        }
    }
};

const Bytes kRequest = "GET / HTTP/1.1\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

std::vector<Bytes> Chunks(fuzz::Input& in) {
    std::vector<Bytes> chunks;
    while (!in.Empty()) {
        const uint8_t c = in.Byte();
        if (c < 0xF0) {
            chunks.push_back(in.Take(c + 1u));
            continue;
        }
        const char byte0 = static_cast<char>(in.Byte());
        const uint64_t n = ((in.Byte() & 0x7F) + 1ull) * 1024;  // up to 128 KiB
        Bytes frame{byte0, static_cast<char>((c & 1 ? 0x80 : 0) | (n < 65536 ? 126 : 127))};
        for (int i = n < 65536 ? 1 : 7; i >= 0; --i) frame += static_cast<char>(n >> (8 * i));
        if (c & 1) frame += Bytes(4, '\0');
        frame.append(n, 'a');
        // A session reads at most kSessionReadBytes at a time.
        const size_t piece = c & 2 ? frame.size() / 2 + 1 : kSessionReadBytes;
        for (size_t pos = 0; pos < frame.size(); pos += piece) chunks.push_back(frame.substr(pos, piece));
    }
    return chunks;
}

// Runs the reads through `ws`, which starts afresh as a new connection would.
void Run(FuzzedWebSocket* ws, uint8_t config, const std::vector<Bytes>& reads) {
    ws->ResetWebSocket();
    ws->events.clear();
    ws->errors.clear();
    ws->ended = false;
    ws->refused = false;
    ws->SetWebsocket(1);
    ws->SetSplitReads(config & 1);
    ws->SetStrict((config >> 1) & 1);
    ws->strict = (config >> 1) & 1;
    ws->SetUTF8TextData((config >> 2) & 1);
    ws->SetUTF8TextCodePage((config >> 3) & 1 ? 936 : 0);
    for (const Bytes& read : reads) {
        const int taken = ws->ProcessWSData(reinterpret_cast<const unsigned char*>(read.data()), static_cast<int>(read.size()));
        FUZZ_CHECK(taken == 0 || taken == 1);
        FUZZ_CHECK(!ws->refused || ws->ended);  // a refused request ends the connection
    }
    FUZZ_CHECK(ws->BlocksAreClean());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t config = in.Byte();
    std::vector<Bytes> reads = Chunks(in);
    if (config & 0x10) reads.insert(reads.begin(), kRequest);
    // Two sockets made once: their blocks are large, and a reset is what a new connection gets.
    static FuzzedWebSocket* const cut = new FuzzedWebSocket;
    static FuzzedWebSocket* const joined = new FuzzedWebSocket;
    Run(cut, config, reads);
    if (!(config & 1)) return 0;

    // Split reads: the same stream in reads as large as a session makes.
    Bytes stream;
    for (const Bytes& r : reads) stream += r;
    std::vector<Bytes> whole;
    for (size_t pos = 0; pos < stream.size(); pos += kSessionReadBytes) whole.push_back(stream.substr(pos, kSessionReadBytes));
    Run(joined, config, whole);
    // Refused requests, reserved bits and ended connections drop the rest of
    // their read by design, so only streams without them must agree.
    const auto cutDependent = [](const FuzzedWebSocket& ws) {
        return ws.ended || ws.errors.find("Resver") != Bytes::npos || ws.errors.find("Handshake") != Bytes::npos;
    };
    if (cutDependent(*cut) || cutDependent(*joined) || cut->events == joined->events) return 0;
    for (const FuzzedWebSocket* ws : {cut, joined}) {  // what differs, for whoever reads the crash
        std::fprintf(stderr, "%s:", ws == cut ? "cut" : "joined");
        for (const Bytes& e : ws->events) std::fprintf(stderr, " %c%zu", e[0], e.size() - 1);
        std::fprintf(stderr, "\n");
    }
    FUZZ_CHECK(cut->events == joined->events);
    return 0;
}
