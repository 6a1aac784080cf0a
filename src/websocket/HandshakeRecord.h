#pragma once
#include <string>

// The header fields of the last opening request, each a zero-terminated text
// cut to its field's size less one byte.
struct WS_HANDSHAKE {
    char szRequestLine[64];
    char szHost[64];
    char szConnection[64];
    char szPragma[512];
    char szCacheControl[128];
    char szUserAgent[1024];
    char szUpgrade[64];
    char szOrigin[1024];
    char szSecWebSocketVersion[64];
    char szAcceptEncoding[64];
    char szAcceptLanguage[128];
    char szSecWebSocketKey[512];
    char szSecWebsocketExtensions[512];
};

static_assert(sizeof(WS_HANDSHAKE) == 4224, "the handshake record holds 4224 bytes of text fields");

// Fills `record` (zeroed first) from the lines of an opening request. A line
// is text before a "\n" once CR LF and lone CR became "\n": the one that
// begins with "GET " is the request line; otherwise "Name:value" fills the
// field whose header name matches exactly, letter case included. Values keep
// their leading blank, except the key, which is trimmed of blanks, tabs, CRs
// and LFs. `rest` receives the text after the last line break.
void ParseOpeningRequest(std::string text, WS_HANDSHAKE* record, std::string* rest);
