#include "websocket/WebSocket.h"

#include <cstring>

#include "client/DataBlockOps.h"

namespace {
constexpr unsigned kMaxSendPayload = 32768;  // outgoing frames use at most the 16-bit length form
}  // namespace

int CWebSocket::ParseWSFrameInfo(const unsigned char* data, int length, _DATA_BLOCK* out, int* opcode, int* fin) {
    if (!out || !opcode || !fin) return 0;
    const uint64_t received = data && length > 0 ? static_cast<uint64_t>(length) : 0;
    if (received >= 1 && (data[0] & 0x70)) {
        WriteLogEx(3, "ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=%d", data[0] & 0x70);
        return 0;
    }
    // The header grows as its bytes are read; every read is checked against
    // the bytes received first, and the payload length is compared with what
    // is left instead of being added, so no 64-bit length can overflow.
    uint64_t pos = 2;
    uint64_t payloadLength = received >= 2 ? (data[1] & 0x7F) : 0;
    const bool masked = received >= 2 && (data[1] & 0x80);
    if (received >= 2 && payloadLength >= 126) {
        const int width = payloadLength == 126 ? 2 : 8;
        if (received >= pos + width) {
            payloadLength = 0;
            for (int i = 0; i < width; ++i) payloadLength = payloadLength << 8 | data[pos + i];
        }
        pos += width;
    }
    const uint64_t keyPos = pos;
    if (masked) pos += 4;
    if (pos > received || payloadLength > received - pos) {
        WriteLogEx(3, "ParseWSFrameInfo Error. nBufLen=%d, iPos=%d, iPayloadLength=%d.\r\n", length,
                   static_cast<int>(pos), static_cast<int>(payloadLength));
        return 0;
    }
    *fin = (data[0] >> 7) & 1;
    *opcode = data[0] & 0x0F;
    const uint32_t copied = payloadLength < kDataBlockBytes ? static_cast<uint32_t>(payloadLength) : kDataBlockBytes;
    SetDataBlock(out, data + pos, copied);
    if (masked)
        for (uint32_t i = 0; i < copied; ++i) out->data[i] ^= data[keyPos + i % 4];
    return 1;
}

int CWebSocket::PackWSFrameInfo(const unsigned char* payload, unsigned payloadLength, unsigned char* frame,
                                unsigned* frameLength, int opcode) {
    if (!frameLength) return 0;
    const unsigned capacity = *frameLength;
    *frameLength = 0;
    if (payloadLength >= kMaxSendPayload) {
        WriteLogEx(3, "PackWSFrameInfo Error. ulMsgLen=%d. Exceed Max\r\n", static_cast<int>(payloadLength));
        return 0;
    }
    if (capacity < 8 || !frame) {
        WriteLogEx(3, "PackWSFrameInfo Error. iBufLen=%d. Exceed Min.\r\n", static_cast<int>(capacity));
        return 0;
    }
    unsigned char header[4] = {static_cast<unsigned char>(0x80 | (opcode & 0x0F)), 0, 0, 0};
    unsigned headerLength = 2;
    if (payloadLength < 126) {
        header[1] = static_cast<unsigned char>(payloadLength);
    } else {
        header[1] = 126;
        header[2] = static_cast<unsigned char>(payloadLength >> 8);
        header[3] = static_cast<unsigned char>(payloadLength);
        headerLength = 4;
    }
    if (!payload || payloadLength == 0) {
        std::memcpy(frame, header, headerLength);
        *frameLength = headerLength;
        return 1;
    }
    if (capacity <= headerLength + payloadLength) {
        WriteLogEx(3, "PackWSFrameInfo Error. iBufLen=%d. Exceed ulHeadLen(%d)+ulMsgLen(%d)\r\n",
                   static_cast<int>(capacity), static_cast<int>(headerLength), static_cast<int>(payloadLength));
        return 0;
    }
    std::memcpy(frame, header, headerLength);
    std::memcpy(frame + headerLength, payload, payloadLength);
    *frameLength = headerLength + payloadLength;
    return 1;
}
