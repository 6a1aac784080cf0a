#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "common/DataBlock.h"
#include "platform/Event.h"

// Complete received messages waiting for the host's receive call. Each entry
// keeps only the bytes in use; what comes out is the same block that went in.
class CReceiveQueue {
public:
    // Does nothing when the receive data type is 1 (messages reach the host
    // only through its notification); otherwise queues a copy and wakes a waiter.
    void PushDataBlock(const _DATA_BLOCK& block);
    // 1 and the oldest message in `out`, or 0 when the queue is empty.
    int PopDataBlock(_DATA_BLOCK* out);
    // Takes a message, waiting at most `timeoutMs` unless `disconnected` says
    // no more can come; 1 with a message, 0 without.
    int WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs, bool disconnected);

    // The host's receive: takes a message into `block` (the session's own
    // receive block) and copies its bytes to `buf`; 0 with a message, -1
    // without. Host threads take turns here.
    int TakeMessage(_DATA_BLOCK* block, unsigned char* buf, int* len, unsigned long timeoutMs, bool disconnected);

    int SetRecvDataType(int type) {
        m_nRecvDataType = type;
        return 0;
    }

private:
    std::mutex m_takeLock;
    std::mutex m_queueLock;
    std::deque<std::vector<unsigned char>> m_queue;
    platform::Event m_hDataEvent{false, false};
    std::atomic<int> m_nRecvDataType{0};
};
