// Strict mode: what RFC 6455 asks of a server beyond decoding frames.
#include "websocket/WebSocket.h"

#include "framing/DataBlockOps.h"
#include "websocket/Utf8Check.h"
#include "websocket/WebSocketOpcodes.h"

namespace {
using namespace wsopcode;

constexpr int kProtocolError = 1002;
constexpr int kInvalidData = 1007;

// Codes a peer may put in a close frame (RFC 6455 section 7.4).
bool IsSendableCloseCode(int code) {
    return (code >= 1000 && code <= 1014 && code != 1004 && code != 1005 && code != 1006) ||
           (code >= 3000 && code <= 4999);
}

const char* HeaderViolation(const unsigned char* data, uint64_t payloadLength) {
    const int opcode = data[0] & 0x0F;
    if (!(data[1] & 0x80)) return "unmasked client frame";
    if ((opcode > kBinary && opcode < kClose) || opcode > kPong) return "reserved opcode";
    if (opcode >= kClose && !(data[0] & 0x80)) return "fragmented control frame";
    if (opcode >= kClose && payloadLength > 125) return "control frame longer than 125 bytes";
    return nullptr;
}
}  // namespace

bool CWebSocket::FailOnViolation(const unsigned char* data, const FrameExtent& extent) {
    const char* reason = extent.status == FrameExtent::kReserved ? "reserved bits set"
                         : extent.headerComplete                  ? HeaderViolation(data, extent.payloadLength)
                                                                  : nullptr;
    if (!reason) return false;
    FailConnection(kProtocolError, reason);
    return true;
}

bool CWebSocket::HandleControlFrame(int opcode, const unsigned char* data, int length) {
    const unsigned char* payload = m_DecodeBlock.data;
    const uint32_t payloadLength = m_DecodeBlock.length;
    if (opcode != kClose) {
        if (opcode == kPing) SendReply(kPong, payload, payloadLength);
        NoteHeartbeat(opcode, data, length);
        return true;
    }
    const int code = payloadLength >= 2 ? payload[0] << 8 | payload[1] : 0;
    if (payloadLength == 1 || (payloadLength >= 2 && !IsSendableCloseCode(code))) {
        FailConnection(kProtocolError, "invalid close code");
        return false;
    }
    const uint32_t codeBytes = payloadLength >= 2 ? 2 : 0;
    if (!IsValidUtf8(payload + codeBytes, payloadLength - codeBytes)) {
        FailConnection(kInvalidData, "close reason is not UTF-8");
        return false;
    }
    // The answer carries the peer's status code (none when it gave none).
    SendReply(kClose, payload, codeBytes);
    WriteLog("Websocket Close(%d) Answered. Connection Closed.", code);
    EndConnection();
    return false;
}

int CWebSocket::RefuseOpeningRequest() {
    if (!m_bStrict) return 0;
    static const char kReply[] = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    const int length = static_cast<int>(sizeof kReply - 1);
    const int sent = Send(kReply, length, 0);
    WriteLogEx(1, "[SLen:%d|RLen:%d]%s\r\n", length, sent, kReply);
    WriteLog("Websocket Handshake Refused. Bad Request. Connection Closed.");
    EndConnection();
    return 1;
}

void CWebSocket::FailConnection(int status, const char* reason) {
    WriteLogEx(3, "Websocket Protocol Error. %s. Close(%d).\r\n", reason, status);
    const unsigned char code[2] = {static_cast<unsigned char>(status >> 8), static_cast<unsigned char>(status)};
    SendReply(kClose, code, sizeof code);
    EndConnection();
}
