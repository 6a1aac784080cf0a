#include "websocket/HandshakeRecord.h"

#include <cstddef>
#include <cstring>

#include "common/XStringTools.h"

namespace {

struct HeaderField {
    const char* name;
    size_t offset;
    size_t capacity;
    bool trimmed;  // blanks and line ends around the value are removed
};

#define WS_FIELD(name, member, trimmed) \
    {name, offsetof(WS_HANDSHAKE, member), sizeof(WS_HANDSHAKE::member), trimmed}
const HeaderField kHeaderFields[] = {
    WS_FIELD("Host", szHost, false),
    WS_FIELD("Connection", szConnection, false),
    WS_FIELD("Pragma", szPragma, false),
    WS_FIELD("Cache-Control", szCacheControl, false),
    WS_FIELD("User-Agent", szUserAgent, false),
    WS_FIELD("Upgrade", szUpgrade, false),
    WS_FIELD("Origin", szOrigin, false),
    WS_FIELD("Sec-WebSocket-Version", szSecWebSocketVersion, false),
    WS_FIELD("Accept-Encoding", szAcceptEncoding, false),
    WS_FIELD("Accept-Language", szAcceptLanguage, false),
    WS_FIELD("Sec-WebSocket-Key", szSecWebSocketKey, true),
    WS_FIELD("Sec-Websocket-Extensions", szSecWebsocketExtensions, false),
};
#undef WS_FIELD

void StoreField(char* field, size_t capacity, const std::string& value) {
    const size_t n = value.size() < capacity ? value.size() : capacity - 1;
    std::memset(field, 0, capacity);
    std::memcpy(field, value.data(), n);
}

void StoreHeader(const std::string& line, WS_HANDSHAKE* record) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    const std::string name = line.substr(0, colon);
    for (const HeaderField& field : kHeaderFields) {
        if (name != field.name) continue;
        stringx value = line.substr(colon + 1);
        if (field.trimmed) StringTrim(value, " \t\r\n");
        StoreField(reinterpret_cast<char*>(record) + field.offset, field.capacity, value);
        return;
    }
}

}  // namespace

void ParseOpeningRequest(std::string text, WS_HANDSHAKE* record, std::string* rest) {
    std::memset(record, 0, sizeof *record);
    stringx lines = text;
    StringReplaceAll(lines, "\r\n", "\n");
    StringReplaceAll(lines, "\r", "\n");
    std::vector<stringx> pieces = StringSplit(lines, "\n");
    if (pieces.empty()) pieces.emplace_back();
    rest->assign(pieces.back());
    pieces.pop_back();  // what follows the last line break is no line
    for (const stringx& line : pieces) {
        if (line.compare(0, 4, "GET ") == 0)
            StoreField(record->szRequestLine, sizeof record->szRequestLine, line);
        else
            StoreHeader(line, record);
    }
}
