#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/MessageAssembler.h"
#include "common/DataBlock.h"
#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace clienttest {

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

inline const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

inline std::unique_ptr<_DATA_BLOCK> MakeBlock(const std::string& content) {
    auto block = std::make_unique<_DATA_BLOCK>();
    block->Clear();
    std::copy(content.begin(), content.end(), block->data);
    block->length = static_cast<uint32_t>(content.size());
    return block;
}

inline std::string Content(const _DATA_BLOCK& block) {
    return std::string(reinterpret_cast<const char*>(block.data), block.length);
}

// True when every byte behind the block's length is zero.
inline bool TailIsZero(const _DATA_BLOCK& block) {
    static const unsigned char zeros[kDataBlockBytes] = {};
    if (block.length > kDataBlockBytes) return false;
    return std::memcmp(block.data + block.length, zeros, kDataBlockBytes - block.length) == 0;
}

// A trace log writing into a fresh folder, with the local date pinned so the
// day file cannot change under a test.
class TraceCapture {
public:
    TraceCapture() {
        platform::SetLocalTimeSource(&FixedTime);
        log.SetLogPath((dir.path() + "/").c_str());
    }
    ~TraceCapture() { platform::SetLocalTimeSource(nullptr); }

    std::string Text() const { return testsupport::ReadTextFile(log.CurrentLogFile()); }
    // Occurrences of `needle` in the log file.
    int Count(const std::string& needle) const {
        std::string text = Text();
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        return n;
    }
    // A plain record with exactly this text.
    int Plain(const std::string& text) const { return Count(":" + text + "\r\n"); }
    int Received(const std::string& text) const { return Count("\r\nRECEIVE:" + text + "\r\n\r\n"); }
    int Transmitted(const std::string& text) const { return Count("\r\nTRANSMIT:" + text + "\r\n\r\n"); }

    testsupport::TempDir dir;
    CTraceLog log;

private:
    static platform::LocalTime FixedTime() {
        platform::LocalTime t;
        t.year = 2026, t.month = 12, t.day = 4, t.hour = 9, t.minute = 5, t.second = 3, t.millisecond = 7;
        return t;
    }
};

// Drives the tick count the framing code reads.
class FakeTicks {
public:
    explicit FakeTicks(uint32_t start) {
        s_now = start;
        platform::SetTickSource(&Now);
    }
    ~FakeTicks() { platform::SetTickSource(nullptr); }
    void Set(uint32_t now) { s_now = now; }

private:
    static uint32_t Now() { return s_now.load(); }
    static inline std::atomic<uint32_t> s_now{0};
};

// Records what the assembler hands on.
struct Received {
    std::vector<std::string> notified;
    std::vector<int> errors;
    std::vector<std::string> queued;
    bool queuedTailsZero = true;

    MessageDelivery Delivery() {
        return MessageDelivery{
            [this](const unsigned char* data, int length, int error) {
                notified.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
                errors.push_back(error);
            },
            [this](const _DATA_BLOCK& block) {
                queued.push_back(Content(block));
                queuedTailsZero = queuedTailsZero && TailIsZero(block);
            }};
    }
};

}  // namespace clienttest
