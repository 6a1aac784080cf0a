#include "websocket/WebSocket.h"

#include <cstring>

#include "framing/DataBlockOps.h"

namespace {
constexpr unsigned kMaxSendPayload = 32768;  // as designed: at most the 16-bit length form
constexpr unsigned kMaxStrictPayload = kDataBlockBytes + 1;  // strict mode: a block, 8-byte form where needed
}  // namespace

// The header grows as its bytes are read; every read is checked against the
// bytes received first, and the payload length is compared with what is left
// instead of being added, so no 64-bit length can overflow. Until its bytes
// arrived an extended length shows as its 7-bit code (126 or 127).
CWebSocket::FrameExtent CWebSocket::InspectFrame(const unsigned char* data, uint64_t received) {
    FrameExtent e{FrameExtent::kShort, false, 2, 0, 2};
    if (received >= 1 && (data[0] & 0x70)) e.status = FrameExtent::kReserved;
    if (received < 2) return e;
    e.payloadLength = data[1] & 0x7F;
    const uint32_t width = e.payloadLength == 126 ? 2 : e.payloadLength == 127 ? 8 : 0;
    if (width && received >= 2 + width) {
        e.payloadLength = 0;
        for (uint32_t i = 0; i < width; ++i) e.payloadLength = e.payloadLength << 8 | data[2 + i];
    }
    e.headerLength = 2 + width + ((data[1] & 0x80) ? 4 : 0);
    e.needed = e.headerLength;
    if (received < e.headerLength) return e;
    e.headerComplete = true;
    const uint64_t maxPayload = UINT64_MAX - e.headerLength;
    e.needed = e.payloadLength > maxPayload ? UINT64_MAX : e.headerLength + e.payloadLength;
    if (e.status != FrameExtent::kReserved && e.payloadLength <= received - e.headerLength)
        e.status = FrameExtent::kWhole;
    return e;
}

int CWebSocket::ParseWSFrameInfo(const unsigned char* data, int length, _DATA_BLOCK* out, int* opcode, int* fin) {
    if (!out || !opcode || !fin) return 0;
    const uint64_t received = data && length > 0 ? static_cast<uint64_t>(length) : 0;
    const FrameExtent e = InspectFrame(data, received);
    if (e.status == FrameExtent::kReserved) {
        WriteLogEx(3, "ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=%d", data[0] & 0x70);
        return 0;
    }
    if (e.status == FrameExtent::kShort) {
        WriteLogEx(3, "ParseWSFrameInfo Error. nBufLen=%d, iPos=%d, iPayloadLength=%d.\r\n", length,
                   static_cast<int>(e.headerLength), static_cast<int>(e.payloadLength));
        return 0;
    }
    *fin = (data[0] >> 7) & 1;
    *opcode = data[0] & 0x0F;
    const uint32_t copied =
        e.payloadLength < kDataBlockBytes ? static_cast<uint32_t>(e.payloadLength) : kDataBlockBytes;
    SetDataBlock(out, data + e.headerLength, copied);
    if (data[1] & 0x80) {
        const unsigned char* key = data + e.headerLength - 4;
        for (uint32_t i = 0; i < copied; ++i) out->data[i] ^= key[i % 4];
    }
    return 1;
}

int CWebSocket::PackWSFrameInfo(const unsigned char* payload, unsigned payloadLength, unsigned char* frame,
                                unsigned* frameLength, int opcode) {
    if (!frameLength) return 0;
    const unsigned capacity = *frameLength;
    *frameLength = 0;
    if (payloadLength >= (m_bStrict ? kMaxStrictPayload : kMaxSendPayload)) {
        WriteLogEx(3, "PackWSFrameInfo Error. ulMsgLen=%d. Exceed Max\r\n", static_cast<int>(payloadLength));
        return 0;
    }
    if (capacity < 8 || !frame) {
        WriteLogEx(3, "PackWSFrameInfo Error. iBufLen=%d. Exceed Min.\r\n", static_cast<int>(capacity));
        return 0;
    }
    unsigned char header[10] = {static_cast<unsigned char>(0x80 | (opcode & 0x0F))};
    unsigned headerLength = 2;
    if (payloadLength < 126) {
        header[1] = static_cast<unsigned char>(payloadLength);
    } else {
        const unsigned width = payloadLength < 65536 ? 2 : 8;
        header[1] = width == 2 ? 126 : 127;
        for (unsigned i = 0; i < width; ++i)
            header[2 + i] = static_cast<unsigned char>(uint64_t(payloadLength) >> (8 * (width - 1 - i)));
        headerLength = 2 + width;
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
