// Split reads: the peer's bytes as a stream. An opening request is collected
// until its blank line, every frame of a read is handled in order, and the
// incomplete end of a read waits in the input buffer for the next one. Only
// the reading thread comes here.
#include "websocket/WebSocket.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint32_t kInputBytes = kDataBlockBytes + CWebSocket::kMaxFrameHeader;

// Offset just past the first blank line ("\n\n" or "\n\r\n") that ends at or
// after `from`, or 0.
uint32_t EndOfRequest(const unsigned char* text, uint32_t length, uint32_t from) {
    for (uint32_t i = std::max<uint32_t>(from, 1); i < length; ++i) {
        if (text[i] != '\n') continue;
        if (text[i - 1] == '\n' || (i >= 2 && text[i - 1] == '\r' && text[i - 2] == '\n')) return i + 1;
    }
    return 0;
}

bool StartsLikeGet(const unsigned char* text, uint32_t length) {
    return std::memcmp(text, "GET ", std::min<uint32_t>(length, 4)) == 0;
}
}  // namespace

int CWebSocket::ProcessStream(const unsigned char* data, int length) {
    const uint64_t resets = m_nResets;
    if (resets != m_nInputResets) {  // kept bytes of an earlier connection
        m_nInputResets = resets;
        m_nInputLength = 0;
        m_nSkipBytes = 0;
    }
    int offset = 0;
    if (!m_bHandshakeDone) {
        offset = CollectHandshake(data, length);
        if (offset <= 0) return offset < 0 ? RefuseOpeningRequest() : 1;
    }
    ProcessFrames(data + offset, static_cast<uint32_t>(length - offset));
    return 1;
}

int CWebSocket::CollectHandshake(const unsigned char* data, int length) {
    TraceRead(data, length);
    const uint32_t before = m_nInputLength;
    const uint32_t copied = std::min(static_cast<uint32_t>(length), kMaxRequestBytes - before);
    if (copied) std::memcpy(m_pInput.get() + before, data, copied);
    m_nInputLength += copied;
    const unsigned char* text = m_pInput.get();
    const uint32_t end = EndOfRequest(text, m_nInputLength, before >= 2 ? before - 2 : 0);
    if (end != 0 || !StartsLikeGet(text, m_nInputLength)) {
        // A request, or bytes that cannot become one: the handshake decides.
        const uint32_t request = end ? end : m_nInputLength;
        m_nInputLength = 0;
        return DoHandshake(text, static_cast<int>(request)) ? static_cast<int>(end - before) : -1;
    }
    if (m_nInputLength < kMaxRequestBytes) return 0;
    m_nInputLength = 0;
    WriteLogEx(3, "Websocket Handshake Refused. No Blank Line Within %d Bytes.\r\n", static_cast<int>(kMaxRequestBytes));
    return -1;
}

void CWebSocket::ProcessFrames(const unsigned char* data, uint32_t length) {
    uint32_t pos = 0;
    while (pos < length) {
        if (m_nSkipBytes > 0) {  // the rest of a dropped frame
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(m_nSkipBytes, length - pos));
            m_nSkipBytes -= n;
            pos += n;
            continue;
        }
        const uint32_t took = m_nInputLength > 0 ? TopUpInput(data + pos, length - pos) : 0;
        pos += took;
        const bool kept = m_nInputLength > 0;
        const unsigned char* frame = kept ? m_pInput.get() : data + pos;
        const uint32_t available = kept ? m_nInputLength : length - pos;
        const FrameExtent extent = InspectFrame(frame, available);
        if (m_bStrict && FailOnViolation(frame, extent)) return;
        if (extent.status == FrameExtent::kReserved) {  // traced as designed; nothing after it can be trusted
            ProcessFrame(frame, static_cast<int>(available));
            m_nInputLength = 0;
            return;
        }
        if (extent.status == FrameExtent::kWhole) {
            const uint32_t size = static_cast<uint32_t>(extent.needed);
            if (!kept) pos += size;
            const bool open = ProcessFrame(frame, static_cast<int>(size));
            m_nInputLength = 0;  // a kept frame is all the input holds
            if (!open) return;
            continue;
        }
        if (extent.headerComplete && extent.payloadLength > kDataBlockBytes) {
            DropFrame(frame[0], extent.payloadLength);
            m_nSkipBytes = extent.payloadLength - (available - extent.headerLength);
            m_nInputLength = 0;
            if (!kept) pos = length;
            continue;
        }
        if (kept) {
            if (took == 0) return;  // a kept frame always wants more; never spin on one
            continue;
        }
        // It fits: a frame of at most a block, or a header still incomplete.
        std::memcpy(m_pInput.get(), frame, available);
        m_nInputLength = available;
        pos = length;
    }
}

uint32_t CWebSocket::TopUpInput(const unsigned char* data, uint32_t length) {
    const FrameExtent extent = InspectFrame(m_pInput.get(), m_nInputLength);
    const uint64_t target = std::min<uint64_t>(extent.needed, kInputBytes);
    if (target <= m_nInputLength) return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(target - m_nInputLength, length));
    std::memcpy(m_pInput.get() + m_nInputLength, data, n);
    m_nInputLength += n;
    return n;
}
