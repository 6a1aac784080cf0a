#pragma once
#include <cstdint>
#include <functional>

#include "framing/FramingSettings.h"
#include "common/DataBlock.h"

class CTraceLog;

// Where complete messages go: first the host's notification (empty bodies
// included), then, for a body that is not empty, the receive queue.
struct MessageDelivery {
    std::function<void(const unsigned char* data, int length, int error)> notify;
    std::function<void(const _DATA_BLOCK& message)> queue;
};

// The receive state of a session: turns the bytes of successive socket reads
// into messages by the configured framing. A message may span several reads,
// and one read may carry several messages (length-header modes). An incomplete
// message waits for the next read, at most RecvDataDelayTimeOut ms; the state
// is kept across connection losses. Used by one reading thread at a time.
class CMessageAssembler {
public:
    // `log` may be null: nothing is traced. With `splitReads` false only the
    // first message of a read is taken and the rest of that read is dropped.
    CMessageAssembler(CTraceLog* log, MessageDelivery delivery, bool splitReads = true);
    CMessageAssembler(const CMessageAssembler&) = delete;
    CMessageAssembler& operator=(const CMessageAssembler&) = delete;

    // Handles the n > 0 bytes of one read; `error` is the read event's error
    // code, passed on with every message.
    void OnRead(const unsigned char* read, int n, int error, const FramingSettings& settings);

    // Cuts further messages out of `read` from `offset` on; an incomplete last
    // piece becomes the pending message.
    void DeliverRemainder(const unsigned char* read, int readLen, int offset, int error,
                          const FramingSettings& settings);

    // Forgets an incomplete message (its connection is gone). The start tick
    // stays until a message completes or expires.
    void DropPending();
    // A new connection starts with nothing pending and no start tick; a
    // partial message of the previous connection is discarded with a trace
    // line ("CleanFraming").
    void DiscardForNewConnection();

    void SetSplitReads(bool value) { m_bSplitReads = value; }
    int IsPending() const { return m_nPending; }
    uint32_t PendingStart() const { return m_dwPendingStart; }
    const _DATA_BLOCK& AssemblyBlock() const { return m_AssembleBlock; }

private:
    void DiscardIfExpired(const FramingSettings& settings);
    void DiscardIfTooLong(uint32_t readLen);
    void MarkPendingStart();
    // Moves an incomplete piece into the assembly block to wait for more.
    void KeepAsPending(_DATA_BLOCK* piece);
    // Traces, notifies and queues one complete message, then clears its block.
    // False for an empty body: the rest of the read is not looked at.
    bool Deliver(_DATA_BLOCK* message, int error);
    // With "CleanFraming" an empty frame is passed over: true when `message`
    // is one (its block is cleared).
    static bool SkipsEmptyFrame(_DATA_BLOCK* message, const FramingSettings& settings);

    CTraceLog* m_pLog;
    MessageDelivery m_delivery;
    bool m_bSplitReads;
    int m_nPending = 0;
    uint32_t m_dwPendingStart = 0;
    _DATA_BLOCK m_AssembleBlock{};
    _DATA_BLOCK m_RemainderBlock{};
};
