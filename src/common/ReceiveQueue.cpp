#include "common/ReceiveQueue.h"

#include <chrono>
#include <cstring>


void CReceiveQueue::PushDataBlock(const _DATA_BLOCK& block) {
    if (m_nRecvDataType == 1) return;
    uint32_t len = block.length <= kDataBlockBytes ? block.length : kDataBlockBytes;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.emplace_back(block.data, block.data + len);
    }
    m_hDataEvent.Set();
}

int CReceiveQueue::PopDataBlock(_DATA_BLOCK* out) {
    std::vector<unsigned char> front;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.empty()) return 0;
        front.swap(m_queue.front());
        m_queue.pop_front();
    }
    // The destination ends up as a cleared block holding the message: only the
    // bytes the previous content used need zeroing.
    uint32_t len = static_cast<uint32_t>(front.size());
    uint32_t previous = out->length <= kDataBlockBytes ? out->length : kDataBlockBytes;
    if (len) std::memcpy(out->data, front.data(), len);
    if (previous > len) std::memset(out->data + len, 0, previous - len);
    out->length = len;
    return 1;
}

int CReceiveQueue::WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs, bool disconnected) {
    if (PopDataBlock(out)) return 1;
    if (disconnected) return 0;
    if (timeoutMs >= platform::kInfinite) {
        while (!PopDataBlock(out)) m_hDataEvent.Wait(platform::kInfinite);
        return 1;
    }
    // A signal left over from a message that was already taken must not end
    // the wait early, so wait again for the rest of the time.
    // (steady clock, not the tick seam that tests may freeze).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return PopDataBlock(out);
        m_hDataEvent.Wait(static_cast<uint32_t>(left.count()));
        if (PopDataBlock(out)) return 1;
    }
}

int CReceiveQueue::TakeMessage(_DATA_BLOCK* block, unsigned char* buf, int* len, unsigned long timeoutMs,
                               bool disconnected) {
    std::lock_guard<std::mutex> lock(m_takeLock);
    if (!WaitDataBlock(block, timeoutMs, disconnected)) return -1;
    std::memcpy(buf, block->data, block->length);
    *len = static_cast<int>(block->length);
    return 0;
}
