#include "websocket/WebSocket.h"

#include <cstring>

#include "framing/DataBlockOps.h"
#include "websocket/Base64.h"
#include "websocket/Sha1.h"

int CWebSocket::DoHandshake(const unsigned char* data, int length) {
    // Strict mode: no host message goes out between the parse and the reply,
    // so that the reply is the first thing the peer gets.
    std::unique_lock<std::mutex> sendTurn(m_sendLock, std::defer_lock);
    if (m_bStrict) sendTurn.lock();
    if (!m_bIsWebsocket || !ParseHandshake(data, length)) return 0;
    stringx key;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        key = m_Handshake.szSecWebSocketKey;
    }
    stringx reply;
    BuildHandshakeReply(key.c_str(), &reply);
    const int sent = Send(reply.data(), static_cast<int>(reply.size()), 0);
    // A failed send is only traced: the connection counts as open.
    WriteLogEx(1, "[SLen:%d|RLen:%d]%s\r\n", static_cast<int>(reply.size()), sent, reply.c_str());
    std::lock_guard<std::mutex> lock(m_stateLock);
    ClearDataBlock(&m_CombineBlock);
    m_bDroppingMessage = 0;
    return 1;
}

int CWebSocket::ParseHandshake(const unsigned char* data, int length) {
    if (!data) return 0;
    // The text ends at its first zero byte, and never past the bytes received.
    const std::string text = BytesText(data, length > 0 ? static_cast<size_t>(length) : 0);
    WS_HANDSHAKE record;
    std::string rest;
    const bool isGet = text.compare(0, 4, "GET ") == 0;
    if (isGet)
        ParseOpeningRequest(text, &record, &rest);
    else
        std::memset(&record, 0, sizeof record);
    const int accepted = record.szSecWebSocketKey[0] != 0;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_Handshake = record;
        m_bHandshakeDone = accepted;
    }
    if (!isGet)
        WriteLogEx(3, "Parse Websocket Handshake Eroor .\r\n%s", PeerText(text.data(), text.size()).c_str());
    else if (!accepted)
        WriteLogEx(3, "Parse Websocket Handshake Eroor Miss Sec-WebSocket-Key.\r\n%s",
                   PeerText(rest.data(), rest.size()).c_str());
    return accepted;
}

void CWebSocket::BuildHandshakeReply(const char* key, stringx* reply) {
    stringx accept;
    MakeAcceptKey(key, &accept);
    reply->assign("HTTP/1.1 101 Web Socket Protocol Handshake\r\n"
                  "Upgrade: websocket\r\n"
                  "Connection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: ");
    reply->append(accept);
    reply->append("\r\n\r\n");
}

void CWebSocket::MakeAcceptKey(const char* key, stringx* acceptKey) {
    stringx combined = key ? key : "";
    combined += "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    SHA1 sha;
    sha << combined.c_str();
    uint32_t words[5] = {0};
    sha.Finish(words);
    unsigned char digest[20];
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<unsigned char>(words[i / 4] >> (24 - 8 * (i % 4)));
    acceptKey->assign(Base64Encode(digest, sizeof digest));
}
