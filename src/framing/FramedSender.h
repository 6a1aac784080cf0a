#pragma once
#include <functional>

#include "framing/FramingSettings.h"
#include "common/DataBlock.h"

class CTraceLog;

// The framed send of a session: puts the length header in front of a message,
// writes it in one call and traces it in a TRANSMIT record (masked when asked).
// Holds the send block and the copy the trace shows; one send at a time.
class CFramedSender {
public:
    // Writes the framed bytes; returns the bytes written or -1.
    using WriteFn = std::function<int(const unsigned char* framed, int framedLen)>;
    // The socket layer's last error, read right after the write.
    using LastErrorFn = std::function<int()>;

    // `log` may be null: nothing is traced.
    explicit CFramedSender(CTraceLog* log);
    CFramedSender(const CFramedSender&) = delete;
    CFramedSender& operator=(const CFramedSender&) = delete;

    // Returns the write's result, or -1 without writing when `data` is null or
    // the framed message does not fit in a block. `logText` replaces the
    // message in the trace when logLen >= 1 and masking is off. With
    // `unframed` the message is written as it is (a WebSocket peer gets it in
    // a frame of its own) and no framed copy is built; the trace shows the
    // same header bytes either way.
    int SendFramed(const FramingSettings& settings, int maskLog, const void* data, int len, const void* logText,
                   int logLen, const WriteFn& write, const LastErrorFn& lastError, bool unframed = false);

    const _DATA_BLOCK& SendBlock() const { return m_SendBlock; }
    const _DATA_BLOCK& SendLogBlock() const { return m_SendLogBlock; }

private:
    CTraceLog* m_pLog;
    _DATA_BLOCK m_SendBlock{};
    _DATA_BLOCK m_SendLogBlock{};
};
