// The opening request and its header fields: the record the layer keeps must
// be what a plain reading of the request gives (lines at LF, CR LF or CR;
// exact header names; values cut to their field, the key trimmed), a request
// is accepted exactly when it starts with "GET " and carries a key, and the
// reply is the five-line answer whose accept value OpenSSL's SHA-1 and
// Base64 compute.
#include <openssl/evp.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "websocket/WebSocket.h"

namespace {

class HandshakeSocket : public CWebSocket {
public:
    ~HandshakeSocket() override { m_SocketWnd.DestroySocketWindow(); }
    void WriteLog(const char*, ...) override {}
    void WriteLogEx(int, const char*, ...) override {}
    int Send(const void* data, int length, int) override {
        sent.emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
        return length;
    }
    std::vector<std::string> sent;
};

struct Field {
    const char* name;
    size_t offset, capacity;
};
#define FIELD(name, member) {name, offsetof(WS_HANDSHAKE, member), sizeof(WS_HANDSHAKE::member)}
const Field kFields[] = {
    FIELD(nullptr, szRequestLine), FIELD("Host", szHost), FIELD("Connection", szConnection),
    FIELD("Pragma", szPragma), FIELD("Cache-Control", szCacheControl), FIELD("User-Agent", szUserAgent),
    FIELD("Upgrade", szUpgrade), FIELD("Origin", szOrigin), FIELD("Sec-WebSocket-Version", szSecWebSocketVersion),
    FIELD("Accept-Encoding", szAcceptEncoding), FIELD("Accept-Language", szAcceptLanguage),
    FIELD("Sec-WebSocket-Key", szSecWebSocketKey), FIELD("Sec-Websocket-Extensions", szSecWebsocketExtensions)};
#undef FIELD

// The fields a request sets, in kFields order; later lines overwrite earlier ones.
std::vector<std::string> ReadFields(const std::string& text) {
    std::vector<std::string> fields(sizeof kFields / sizeof kFields[0]);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        const std::string line = text.substr(start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
        if (line.compare(0, 4, "GET ") == 0) {
            fields[0] = line;
            continue;
        }
        const size_t colon = line.find(':');
        for (size_t f = 1; colon != std::string::npos && f < fields.size(); ++f) {
            if (line.compare(0, colon, kFields[f].name) != 0 || std::strlen(kFields[f].name) != colon) continue;
            const std::string value = line.substr(colon + 1);
            fields[f] = f == 11 ? fuzz::Trim(value, " \t\r\n") : value;
        }
    }
    for (size_t f = 0; f < fields.size(); ++f) fields[f] = fields[f].substr(0, kFields[f].capacity - 1);
    return fields;
}

std::string AcceptKey(const std::string& key) {
    const std::string combined = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[20];
    EVP_Digest(combined.data(), combined.size(), digest, nullptr, EVP_sha1(), nullptr);
    unsigned char b64[64];
    const int n = EVP_EncodeBlock(b64, digest, sizeof digest);
    return std::string(reinterpret_cast<char*>(b64), static_cast<size_t>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HandshakeSocket ws;
    ws.SetWebsocket(1);
    const int accepted = ws.DoHandshake(data, static_cast<int>(size));
    const std::string received(reinterpret_cast<const char*>(data), size);
    const std::string text = received.substr(0, received.find('\0'));  // the request ends at a zero byte

    const bool get = text.compare(0, 4, "GET ") == 0;
    const std::vector<std::string> expected = get ? ReadFields(text) : std::vector<std::string>(13);
    const WS_HANDSHAKE record = ws.Handshake();
    for (size_t f = 0; f < expected.size(); ++f) {
        const char* field = reinterpret_cast<const char*>(&record) + kFields[f].offset;
        FUZZ_CHECK(field[kFields[f].capacity - 1] == '\0' && expected[f] == field);
        FUZZ_CHECK(fuzz::AllZero(reinterpret_cast<const unsigned char*>(field) + expected[f].size(),
                                 kFields[f].capacity - expected[f].size()));
    }
    const std::string& key = expected[11];
    FUZZ_CHECK(accepted == (get && !key.empty() ? 1 : 0) && ws.IsHandshakeDone() == accepted);
    FUZZ_CHECK(ws.sent.size() == static_cast<size_t>(accepted));
    if (accepted)
        FUZZ_CHECK(ws.sent[0] == "HTTP/1.1 101 Web Socket Protocol Handshake\r\nUpgrade: websocket\r\n"
                                 "Connection: Upgrade\r\nSec-WebSocket-Accept: " + AcceptKey(key) + "\r\n\r\n");
    return 0;
}
