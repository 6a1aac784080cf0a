#include "framing/MessageAssembler.h"

#include <algorithm>
#include <utility>

#include "framing/DataBlockOps.h"
#include "framing/Framing.h"
#include "framing/ReceiveTrace.h"
#include "log/TraceLog.h"
#include "platform/Time.h"

CMessageAssembler::CMessageAssembler(CTraceLog* log, MessageDelivery delivery, bool splitReads)
    : m_pLog(log), m_delivery(std::move(delivery)), m_bSplitReads(splitReads) {}

void CMessageAssembler::OnRead(const unsigned char* read, int n, int error, const FramingSettings& settings) {
    Assemble(read, nullptr, n, error, settings);
}

void CMessageAssembler::OnSessionRead(unsigned char* read, int n, int error, const FramingSettings& settings) {
    // A read that fills a whole block has no byte behind it to write.
    const bool direct = n > 0 && static_cast<uint32_t>(n) < kDataBlockBytes && FrameHeaderSize(settings.netHeader) != 0;
    Assemble(read, direct ? read : nullptr, n, error, settings);
}

void CMessageAssembler::Assemble(const unsigned char* read, unsigned char* writable, int n, int error,
                                 const FramingSettings& settings) {
    if (!read || n <= 0) return;
    const uint32_t len = std::min(static_cast<uint32_t>(n), kDataBlockBytes);
    DiscardIfExpired(settings);
    if (writable && m_nPending != 1) {
        // Nothing pending: the read's frames go on from where they lie. The
        // assembly block ends up as after a delivery: empty, or holding an
        // incomplete last piece.
        ClearDataBlock(&m_AssembleBlock);
        DeliverFrames(writable, len, 0, error, settings, true);
        return;
    }
    // A pending message takes only the bytes up to its own end; the rest of
    // the read is split into further messages below.
    const uint32_t take = m_nPending == 1 ? BytesBelongingToPending(settings.netHeader, settings.headerIncluded,
                                                                    m_AssembleBlock.data, m_AssembleBlock.length,
                                                                    read, len, settings.cutAtEndByte)
                                          : len;
    DiscardIfTooLong(take);

    uint32_t pendingBefore = 0;
    if (m_nPending == 1) {
        pendingBefore = m_AssembleBlock.length;
        AppendDataBlock(&m_AssembleBlock, read, take);
        if (m_pLog) m_pLog->WriteLog("OnReceive(Len=%d).", n);
    } else {
        SetDataBlock(&m_AssembleBlock, read, len);
    }

    int headerLen = 0, bodyLen = 0;
    ParseFrame(settings.netHeader, settings.headerIncluded, &m_AssembleBlock, &m_nPending, &bodyLen, &headerLen,
               settings.endMarker, settings.cutAtEndByte);
    if (m_nPending == 1) {
        MarkPendingStart();
        return;
    }
    m_nPending = 0;
    m_dwPendingStart = 0;
    // The message ends inside this read, after the bytes it had gathered before.
    const int end = headerLen + bodyLen - static_cast<int>(pendingBefore);
    if (!SkipsEmptyFrame(&m_AssembleBlock, settings) && (!Deliver(&m_AssembleBlock, error) || !m_bSplitReads)) return;
    if (writable && end >= 0) DeliverFrames(writable, len, static_cast<uint32_t>(end), error, settings, false);
    else DeliverRemainder(read, static_cast<int>(len), end, error, settings);
}

void CMessageAssembler::DeliverFrames(unsigned char* read, uint32_t readLen, uint32_t pos, int error,
                                      const FramingSettings& settings, bool fresh) {
    const uint32_t h = FrameHeaderSize(settings.netHeader);
    while (pos < readLen) {
        const uint32_t avail = readLen - pos;
        const uint32_t frame =
            CompleteFrameSize(settings.netHeader, settings.headerIncluded, read + pos, avail, settings.cutAtEndByte);
        if (frame == 0) {
            // The header or the body is still to come.
            SetDataBlock(&m_AssembleBlock, read + pos, avail);
            m_nPending = 1;
            MarkPendingStart();
            return;
        }
        if (fresh) {
            // The read's first message completes: as for an assembled one.
            m_nPending = 0;
            m_dwPendingStart = 0;
            fresh = false;
        }
        pos += frame;
        if (settings.cleanFraming && frame == h) continue;  // an empty frame is passed over
        if (!DeliverBody(read + pos - frame + h, frame - h, error) || !m_bSplitReads) return;
    }
}

void CMessageAssembler::DeliverRemainder(const unsigned char* read, int readLen, int offset, int error,
                                         const FramingSettings& settings) {
    if (!read || offset < 0 || readLen <= offset) return;
    int pos = offset;
    while (readLen - pos > 0) {
        const uint32_t avail = static_cast<uint32_t>(readLen - pos);
        // Only the next frame is copied: the parse looks no further, and the
        // rest of the read is taken from `read` in the next round.
        const uint32_t frame = CompleteFrameSize(settings.netHeader, settings.headerIncluded, read + pos, avail,
                                                 settings.cutAtEndByte);
        SetDataBlock(&m_RemainderBlock, read + pos, frame != 0 ? frame : avail);
        int headerLen = 0, bodyLen = 0, pending = 0;
        ParseFrame(settings.netHeader, settings.headerIncluded, &m_RemainderBlock, &pending, &bodyLen, &headerLen,
                   std::string(), settings.cutAtEndByte);
        if (pending == 1) {
            KeepAsPending(&m_RemainderBlock);
            return;
        }
        pos += headerLen + bodyLen;
        if (SkipsEmptyFrame(&m_RemainderBlock, settings)) continue;
        // Without split reads a read goes on only past the empty frames skipped above.
        if (!Deliver(&m_RemainderBlock, error) || !m_bSplitReads) return;
    }
}

void CMessageAssembler::DropPending() {
    ClearDataBlock(&m_AssembleBlock);
    m_nPending = 0;
}

void CMessageAssembler::DiscardForNewConnection() {
    if (m_nPending == 1 && m_pLog) {
        m_pLog->WriteLog("New Connection. Discard Previous Message! PendingLen(%d)",
                         static_cast<int>(m_AssembleBlock.length));
    }
    DropPending();
    m_dwPendingStart = 0;
}

bool CMessageAssembler::SkipsEmptyFrame(_DATA_BLOCK* message, const FramingSettings& settings) {
    if (!settings.cleanFraming || message->length != 0) return false;
    ClearDataBlock(message);
    return true;
}

void CMessageAssembler::DiscardIfExpired(const FramingSettings& settings) {
    if (m_nPending != 1) return;
    const uint32_t now = platform::GetTickCount();
    const uint32_t elapsed = now - m_dwPendingStart;
    if (elapsed <= static_cast<uint32_t>(settings.recvDataDelayTimeOut)) return;
    if (m_pLog) {
        m_pLog->WriteLog(
            "Network Status Bad. Discard Previous Message! OnReceiveDataTimeOut(%d)(dwElapse=%d). dwEndTime=%d, "
            "dwStartTime=%d",
            settings.recvDataDelayTimeOut, static_cast<int>(elapsed), static_cast<int>(now),
            static_cast<int>(m_dwPendingStart));
    }
    m_nPending = 0;
    m_dwPendingStart = 0;
}

void CMessageAssembler::DiscardIfTooLong(uint32_t readLen) {
    if (m_nPending != 1 || m_AssembleBlock.length + readLen <= kDataBlockBytes) return;
    if (m_pLog) {
        m_pLog->WriteLog("Message Too Long. Discard Previous Message! PendingLen(%d) + recvLen(%d) > %d",
                         static_cast<int>(m_AssembleBlock.length), static_cast<int>(readLen),
                         static_cast<int>(kDataBlockBytes));
    }
    m_nPending = 0;
    m_dwPendingStart = 0;
}

void CMessageAssembler::MarkPendingStart() {
    if (m_dwPendingStart != 0) return;
    m_dwPendingStart = platform::GetTickCount();
    if (m_pLog) m_pLog->WriteLog("Network Status Is Not Good. StartTick(%d)", static_cast<int>(m_dwPendingStart));
}

void CMessageAssembler::KeepAsPending(_DATA_BLOCK* piece) {
    SetDataBlock(&m_AssembleBlock, piece->data, piece->length);
    ClearDataBlock(piece);
    m_nPending = 1;
    MarkPendingStart();
}

bool CMessageAssembler::DeliverBody(unsigned char* body, uint32_t length, int error) {
    if (m_pLog) WriteReceiveRecord(*m_pLog, body, length);
    if (m_delivery.notify) {
        // The host sees the message ended by a zero byte, as in a block;
        // the byte behind it (the next frame's, or past the read) comes back after.
        const unsigned char behind = body[length];
        body[length] = 0;
        m_delivery.notify(body, static_cast<int>(length), error);
        body[length] = behind;
    }
    if (length == 0) return false;
    if (m_queueBytes) {
        m_queueBytes(body, length);
    } else if (m_delivery.queue) {
        SetDataBlock(&m_RemainderBlock, body, length);
        m_delivery.queue(m_RemainderBlock);
        ClearDataBlock(&m_RemainderBlock);
    }
    return true;
}

bool CMessageAssembler::Deliver(_DATA_BLOCK* message, int error) {
    if (m_pLog) WriteReceiveRecord(*m_pLog, *message);
    if (m_delivery.notify) m_delivery.notify(message->data, static_cast<int>(message->length), error);
    const bool hasBody = message->length != 0;
    if (hasBody && m_delivery.queue) m_delivery.queue(*message);
    ClearDataBlock(message);
    return hasBody;
}
