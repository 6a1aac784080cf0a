#include "common/ReceiveQueue.h"

#include <cstring>
#include <utility>

#include "common/XStringTools.h"
#include "platform/Event.h"

namespace {
// Once a burst has drained, the slots beyond the first 16 give their storage
// back, but only when all slots together hold more than 1 MB: a stream
// arrives as bursts (the messages of one socket read), and a queue that
// shrank after every burst would allocate every slot again for the next.
constexpr size_t kKeptSlots = 16;
constexpr size_t kKeptBytes = 1 << 20;

size_t StorageBytes(const std::vector<std::vector<unsigned char>>& slots) {
    size_t bytes = 0;
    for (const auto& slot : slots) bytes += slot.capacity();
    return bytes;
}
}  // namespace

void CReceiveQueue::Grow() {
    std::vector<std::vector<unsigned char>> larger(m_slots.empty() ? kKeptSlots : 2 * m_slots.size());
    for (size_t i = 0; i < m_count; ++i) larger[i].swap(m_slots[(m_head + i) % m_slots.size()]);
    m_slots.swap(larger);
    m_head = 0;
}

void CReceiveQueue::PushDataBlock(const _DATA_BLOCK& block) {
    PushBytes(block.data, block.length <= kDataBlockBytes ? block.length : kDataBlockBytes);
}

void CReceiveQueue::PushBytes(const unsigned char* data, uint32_t len) {
    if (m_nRecvDataType == 1) return;
    if (len > kDataBlockBytes) len = kDataBlockBytes;
    std::string limitLine;
    std::function<void(const std::string&)> trace;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (AdmitUnderLimit(len, &limitLine)) {
            if (m_count == m_slots.size()) Grow();
            m_slots[(m_head + m_count) % m_slots.size()].assign(data, data + len);
            ++m_count;
            m_nQueuedBytes += len;
            if (m_batching) m_wakeHeld = true;
            else wake = true;
        }
        if (!limitLine.empty()) trace = m_limitTrace;
    }
    if (trace) trace(limitLine);
    if (wake) m_queued.notify_one();
}

CReceiveQueue::WakeBatch::WakeBatch(CReceiveQueue& queue) : m_queue(queue) {
    std::lock_guard<std::mutex> lock(m_queue.m_queueLock);
    m_queue.m_batching = true;
}

CReceiveQueue::WakeBatch::~WakeBatch() {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_queue.m_queueLock);
        wake = m_queue.m_wakeHeld;
        m_queue.m_batching = m_queue.m_wakeHeld = false;
    }
    if (wake) m_queue.m_queued.notify_all();
}

template <class Copy>
int CReceiveQueue::PopFront(Copy copy) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (m_count == 0) return 0;
    std::vector<unsigned char>& front = m_slots[m_head];
    copy(front.data(), static_cast<uint32_t>(front.size()));
    m_nQueuedBytes -= front.size();
    front.clear();
    m_head = (m_head + 1) % m_slots.size();
    if (--m_count == 0 && m_slots.size() > kKeptSlots && StorageBytes(m_slots) > kKeptBytes) {
        m_slots.resize(kKeptSlots);
        m_head = 0;
    }
    return 1;
}

int CReceiveQueue::PopDataBlock(_DATA_BLOCK* out) {
    return PopFront([out](const unsigned char* data, uint32_t len) {
        // The destination ends up as a cleared block holding the message:
        // only the bytes the previous content used need zeroing.
        uint32_t previous = out->length <= kDataBlockBytes ? out->length : kDataBlockBytes;
        if (len) std::memcpy(out->data, data, len);
        if (previous > len) std::memset(out->data + len, 0, previous - len);
        out->length = len;
    });
}

bool CReceiveQueue::WaitUntilQueued(bool endless, Clock::time_point deadline, uint64_t endsBefore) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    auto ended = [&] { return m_bWaitsEnded || m_nWaitEnds != endsBefore; };
    auto queuedOrEnded = [&] { return m_count > 0 || ended(); };
    if (endless) m_queued.wait(lock, queuedOrEnded);
    else if (!m_queued.wait_until(lock, deadline, queuedOrEnded)) return false;
    return !ended() || m_count > 0;
}

void CReceiveQueue::EndWaits() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_bWaitsEnded = true;
        ++m_nWaitEnds;
    }
    m_queued.notify_all();
}

void CReceiveQueue::AllowWaits() {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_bWaitsEnded = false;
}

void CReceiveQueue::SetByteLimit(uint32_t bytes, std::function<void(const std::string&)> trace) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_nByteLimit = bytes;
    m_limitTrace = std::move(trace);
}

bool CReceiveQueue::AdmitUnderLimit(uint32_t len, std::string* line) {
    if (m_nByteLimit == 0) return true;
    stringx text;
    if (m_nQueuedBytes + len > m_nByteLimit) {
        if (m_nDropped++ == 0)
            *line = StringFormat(text, "Receive Queue Full(RecvQueueLimit=%u). Message(Len=%u) Not Queued.",
                                 m_nByteLimit, len);
        return false;
    }
    if (m_nDropped > 0) {
        *line = StringFormat(text, "Receive Queue Has Room Again. %d Message(s) Not Queued.", m_nDropped);
        m_nDropped = 0;
    }
    return true;
}

template <class Take>
bool CReceiveQueue::WaitAndTake(unsigned long timeoutMs, bool disconnected, Take take) {
    uint64_t endsBefore;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        endsBefore = m_nWaitEnds;
    }
    if (take()) return true;
    if (disconnected) return false;
    // Another caller may take the message that woke this one; then this one
    // waits again for the rest of its own time (steady clock, not the tick
    // seam that tests may freeze).
    const bool endless = timeoutMs >= platform::kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(endless ? 0 : timeoutMs);
    while (WaitUntilQueued(endless, deadline, endsBefore))
        if (take()) return true;
    return take();
}

int CReceiveQueue::WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs, bool disconnected) {
    return WaitAndTake(timeoutMs, disconnected, [&] { return PopDataBlock(out) == 1; }) ? 1 : 0;
}

int CReceiveQueue::TakeMessage(unsigned char* buf, int* len, unsigned long timeoutMs, bool disconnected) {
    auto take = [&] {
        return PopFront([&](const unsigned char* data, uint32_t n) {
                   if (n) std::memcpy(buf, data, n);
                   *len = static_cast<int>(n);
               }) == 1;
    };
    return WaitAndTake(timeoutMs, disconnected, take) ? 0 : -1;
}
