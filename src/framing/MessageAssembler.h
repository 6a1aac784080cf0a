#pragma once
#include <cstdint>
#include <functional>
#include <utility>

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
    // The same for a session's own read buffer, in which read[n] may be
    // written for a moment: with a length header, every message that lies
    // whole in the read goes to the host and the queue straight from it,
    // not through the assembly block. The host's notification sees the
    // message followed by a zero byte, as from a block.
    void OnSessionRead(unsigned char* read, int n, int error, const FramingSettings& settings);

    // Where messages delivered straight from a session read are queued
    // (their block-based `queue` is not called for them then).
    void SetQueueBytes(std::function<void(const unsigned char* data, uint32_t length)> queueBytes) {
        m_queueBytes = std::move(queueBytes);
    }

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
    // OnRead and OnSessionRead: `writable` is the read itself, or null.
    void Assemble(const unsigned char* read, unsigned char* writable, int n, int error,
                  const FramingSettings& settings);
    void DiscardIfExpired(const FramingSettings& settings);
    void DiscardIfTooLong(uint32_t readLen);
    void MarkPendingStart();
    // Moves an incomplete piece into the assembly block to wait for more.
    void KeepAsPending(_DATA_BLOCK* piece);
    // Traces, notifies and queues one complete message, then clears its block.
    // False for an empty body: the rest of the read is not looked at.
    bool Deliver(_DATA_BLOCK* message, int error);
    // The same for the body of a frame that lies whole in a writable read.
    bool DeliverBody(unsigned char* body, uint32_t length, int error);
    // Hands on the frames of a writable read from `pos` on by their length
    // header, each straight from the read; an incomplete last piece becomes
    // the pending message. `fresh`: the read began with nothing pending.
    void DeliverFrames(unsigned char* read, uint32_t readLen, uint32_t pos, int error,
                       const FramingSettings& settings, bool fresh);
    // With "CleanFraming" an empty frame is passed over: true when `message`
    // is one (its block is cleared).
    static bool SkipsEmptyFrame(_DATA_BLOCK* message, const FramingSettings& settings);

    CTraceLog* m_pLog;
    MessageDelivery m_delivery;
    std::function<void(const unsigned char* data, uint32_t length)> m_queueBytes;
    bool m_bSplitReads;
    int m_nPending = 0;
    uint32_t m_dwPendingStart = 0;
    _DATA_BLOCK m_AssembleBlock{};
    _DATA_BLOCK m_RemainderBlock{};
};
