#include "framing/Framing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool HasLengthHeader(int headerMode) { return FrameHeaderSize(headerMode) != 0; }

// The body length announced by the header at `p`, after the HeaderIncluded
// correction, as the unsigned 32-bit number the completeness test compares.
// The 16-bit modes read a signed value, so a negative length sign-extends to
// a huge one and never completes.
uint32_t AnnouncedBodyLength(int headerMode, int headerIncluded, const unsigned char* p) {
    const bool included = headerIncluded == 1;
    int16_t n16 = 0;
    switch (headerMode) {
        case kHeaderBinaryLE16:
            n16 = static_cast<int16_t>(p[0] | (p[1] << 8));
            if (included) n16 = static_cast<int16_t>(n16 - 2);
            break;
        case kHeaderBinaryBE16:
            n16 = static_cast<int16_t>((p[0] << 8) | p[1]);
            if (included) n16 = static_cast<int16_t>(n16 - 2);
            break;
        case kHeaderDecimal4: {
            char digits[5] = {static_cast<char>(p[0]), static_cast<char>(p[1]), static_cast<char>(p[2]),
                              static_cast<char>(p[3]), '\0'};
            n16 = static_cast<int16_t>(std::atoi(digits));
            if (included) n16 = static_cast<int16_t>(n16 - 4);
            break;
        }
        case kHeaderBinaryBE32: {
            uint32_t n32 = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
            return included ? n32 - 4 : n32;
        }
        default: break;
    }
    return static_cast<uint32_t>(static_cast<int32_t>(n16));
}

// Writes the mode's header for a body of `bodyLen` bytes into `header`.
void WriteHeader(int headerMode, int headerIncluded, uint32_t bodyLen, unsigned char* header) {
    const bool included = headerIncluded == 1;
    switch (headerMode) {
        case kHeaderBinaryLE16:
        case kHeaderBinaryBE16: {
            uint16_t v = static_cast<uint16_t>(bodyLen + (included ? 2 : 0));
            unsigned char low = static_cast<unsigned char>(v & 0xFF), high = static_cast<unsigned char>(v >> 8);
            header[0] = headerMode == kHeaderBinaryLE16 ? low : high;
            header[1] = headerMode == kHeaderBinaryLE16 ? high : low;
            break;
        }
        case kHeaderDecimal4: {
            // Only the first four characters go out, so 12345 becomes "1234".
            char text[16];
            std::snprintf(text, sizeof text, "%04d", static_cast<int>(bodyLen + (included ? 4 : 0)));
            std::memcpy(header, text, 4);
            break;
        }
        case kHeaderBinaryBE32: {
            uint32_t v = bodyLen + (included ? 4 : 0);
            for (int i = 0; i < 4; ++i) header[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
            break;
        }
        default: break;
    }
}

void ParseEndMarker(const _DATA_BLOCK& block, uint32_t len, const std::string& endMarker, int* pending) {
    const uint32_t m = static_cast<uint32_t>(endMarker.size());
    if (m == 0 || len < m) return;
    if (len == m) {
        *pending = 1;
        return;
    }
    // The marker is expected just before the last byte received.
    *pending = std::memcmp(block.data + (len - m - 1), endMarker.data(), m) == 0 ? 0 : 1;
}

}  // namespace

uint32_t FrameHeaderSize(int headerMode) {
    switch (headerMode) {
        case kHeaderBinaryLE16:
        case kHeaderBinaryBE16: return 2;
        case kHeaderDecimal4:
        case kHeaderBinaryBE32: return 4;
        default: return 0;
    }
}

unsigned BuildFrame(int headerMode, int headerIncluded, _DATA_BLOCK* block) {
    const uint32_t h = FrameHeaderSize(headerMode);
    const uint32_t len = block->length;
    if (h == 0 || len > kDataBlockBytes - h) return block->length;
    unsigned char header[4];
    WriteHeader(headerMode, headerIncluded, len, header);
    std::memmove(block->data + h, block->data, len);
    std::memcpy(block->data, header, h);
    block->length = len + h;
    return block->length;
}

void FramedLeadBytes(int headerMode, int headerIncluded, const unsigned char* body, uint32_t len,
                     unsigned char lead[2]) {
    const uint32_t h = FrameHeaderSize(headerMode);
    if (h == 0 || len > kDataBlockBytes - h) {  // BuildFrame leaves such a block as it is
        lead[0] = len > 0 ? body[0] : 0;
        lead[1] = len > 1 ? body[1] : 0;
        return;
    }
    unsigned char header[4];
    WriteHeader(headerMode, headerIncluded, len, header);
    lead[0] = header[0];
    lead[1] = header[1];
}

// Mode 6 cut at end bytes: the bytes up to and including the first 0x03, or 0.
static uint32_t EndByteMessageSize(const unsigned char* data, uint32_t avail) {
    const void* end = avail ? std::memchr(data, kEndByte, avail) : nullptr;
    return end ? static_cast<uint32_t>(static_cast<const unsigned char*>(end) - data) + 1 : 0;
}

int ParseFrame(int headerMode, int headerIncluded, _DATA_BLOCK* block, int* pending, int* bodyLen, int* headerLen,
               std::string endMarker, bool cutAtEndByte) {
    const uint32_t len = std::min(block->length, kDataBlockBytes);
    if (len == 0) return *pending;
    *headerLen = 0;
    *bodyLen = static_cast<int>(len);

    if (HasLengthHeader(headerMode)) {
        const uint32_t h = FrameHeaderSize(headerMode);
        if (len < h) return *pending = 1;
        *headerLen = static_cast<int>(h);
        const uint32_t body = AnnouncedBodyLength(headerMode, headerIncluded, block->data);
        *bodyLen = static_cast<int>(body);
        if (len - h < body) return *pending = 1;
        *pending = 0;
        std::memmove(block->data, block->data + h, body);
        std::memset(block->data + body, 0, len - body);
        block->length = body;
    } else if (headerMode == kHeaderEndByte) {
        const uint32_t message = EndByteMessageSize(block->data, len);
        *pending = (len > kEndByteMaxPending || message != 0) ? 0 : 1;
        if (cutAtEndByte && message != 0) {
            std::memset(block->data + message, 0, len - message);
            block->length = message;
            *bodyLen = static_cast<int>(message);
        }
    } else if (headerMode == kHeaderNone) {
        ParseEndMarker(*block, len, endMarker, pending);
    }
    return *pending;
}

uint32_t CompleteFrameSize(int headerMode, int headerIncluded, const unsigned char* data, uint32_t avail,
                           bool cutAtEndByte) {
    if (cutAtEndByte && headerMode == kHeaderEndByte) return EndByteMessageSize(data, avail);
    const uint32_t h = FrameHeaderSize(headerMode);
    if (h == 0) return avail;
    if (avail < h) return 0;
    const uint32_t body = AnnouncedBodyLength(headerMode, headerIncluded, data);
    return avail - h < body ? 0 : h + body;
}

uint32_t BytesBelongingToPending(int headerMode, int headerIncluded, const unsigned char* pending, uint32_t have,
                                 const unsigned char* read, uint32_t avail, bool cutAtEndByte) {
    if (cutAtEndByte && headerMode == kHeaderEndByte) {
        const uint32_t rest = EndByteMessageSize(read, avail);
        return rest ? rest : avail;
    }
    const uint32_t h = FrameHeaderSize(headerMode);
    if (h == 0) return avail;
    unsigned char header[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < h; ++i) {
        if (i < have) header[i] = pending[i];
        else if (i - have < avail) header[i] = read[i - have];
        else return avail;  // the header itself is still incomplete
    }
    const uint64_t total = uint64_t{h} + AnnouncedBodyLength(headerMode, headerIncluded, header);
    if (total > kDataBlockBytes || total <= have) return avail;
    const uint64_t need = total - have;
    return need < avail ? static_cast<uint32_t>(need) : avail;
}
