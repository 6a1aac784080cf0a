#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/DataBlock.h"

// Complete received messages waiting for the host's receive call. Each entry
// keeps only the bytes in use; what comes out is the same block that went in.
// Entries live in a ring of slots that keep their storage, so a steady flow
// of messages allocates nothing.
class CReceiveQueue {
public:
    // Does nothing when the receive data type is 1 (messages reach the host
    // only through its notification); otherwise queues a copy and wakes a waiter.
    void PushDataBlock(const _DATA_BLOCK& block);
    // The same for `len` bytes of a message that is not in a block.
    void PushBytes(const unsigned char* data, uint32_t len);
    // 1 and the oldest message in `out`, or 0 when the queue is empty.
    int PopDataBlock(_DATA_BLOCK* out);
    // Takes a message, waiting at most `timeoutMs` unless `disconnected` says
    // no more can come; 1 with a message, 0 without.
    int WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs, bool disconnected);

    // The host's receive: copies the oldest message's bytes from its queue
    // slot to `buf`; 0 with a message, -1 without. Each caller waits for
    // its own time-out, never behind another caller's wait.
    int TakeMessage(unsigned char* buf, int* len, unsigned long timeoutMs, bool disconnected);

    // While one exists, messages pushed on its thread wake the waiting
    // callers only when it ends: the messages of one socket read then cost
    // one wake-up instead of one each.
    class WakeBatch {
    public:
        explicit WakeBatch(CReceiveQueue& queue);
        ~WakeBatch();
        WakeBatch(const WakeBatch&) = delete;
        WakeBatch& operator=(const WakeBatch&) = delete;

    private:
        CReceiveQueue& m_queue;
    };

    // Ends every wait for a message at once, and every wait that starts
    // before AllowWaits, as if its time had run out ("StopWakesRecvData").
    void EndWaits();
    void AllowWaits();

    // At most `bytes` of messages are queued (0: no bound); a message that
    // would take the queue past it is dropped. `trace` gets one line when
    // dropping begins and one with the count when a message fits again.
    void SetByteLimit(uint32_t bytes, std::function<void(const std::string&)> trace);

    int SetRecvDataType(int type) {
        m_nRecvDataType = type;
        return 0;
    }

private:
    using Clock = std::chrono::steady_clock;
    // Runs `take` until it succeeds, waiting between tries for a message to
    // be queued, at most `timeoutMs` in all; true when `take` succeeded.
    // (A template, so that a call allocates nothing for its callable.)
    template <class Take>
    bool WaitAndTake(unsigned long timeoutMs, bool disconnected, Take take);
    // Waits until the queue holds a message or `deadline` passes (no limit
    // when `endless`); true when it holds one.
    bool WaitUntilQueued(bool endless, Clock::time_point deadline, uint64_t endsBefore);
    // False when the byte limit drops a message of `len` bytes; then, and
    // when a message fits again after drops, `line` is a trace line to write.
    // The caller holds m_queueLock.
    bool AdmitUnderLimit(uint32_t len, std::string* line);
    void Grow();
    // Under m_queueLock: the front message's bytes, then it is taken out.
    template <class Copy>
    int PopFront(Copy copy);

    std::mutex m_queueLock;
    std::condition_variable m_queued;
    std::vector<std::vector<unsigned char>> m_slots;  // ring; guarded by m_queueLock
    size_t m_head = 0;
    size_t m_count = 0;
    bool m_batching = false;    // guarded by m_queueLock
    bool m_wakeHeld = false;    // a push of the batch has not woken anyone yet
    std::atomic<int> m_nRecvDataType{0};
    // Guarded by m_queueLock:
    bool m_bWaitsEnded = false;
    uint64_t m_nWaitEnds = 0;  // counts EndWaits calls
    uint32_t m_nByteLimit = 0;
    uint64_t m_nQueuedBytes = 0;
    int m_nDropped = 0;  // messages dropped since the queue was last under its limit
    std::function<void(const std::string&)> m_limitTrace;
};
