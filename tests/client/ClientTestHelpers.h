#pragma once
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "client/MessageAssembler.h"
#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/Harness.h"
#include "support/TestSupport.h"

namespace clienttest {

using testsupport::Bytes;

inline const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

inline std::unique_ptr<_DATA_BLOCK> MakeBlock(const std::string& content) {
    auto block = std::make_unique<_DATA_BLOCK>();  // zeroed
    std::copy(content.begin(), content.end(), block->data);
    block->length = static_cast<uint32_t>(content.size());
    return block;
}

inline std::string Content(const _DATA_BLOCK& block) {
    return std::string(reinterpret_cast<const char*>(block.data), block.length);
}

// True when every byte behind the block's length is zero.
inline bool TailIsZero(const _DATA_BLOCK& block) {
    return block.length <= kDataBlockBytes &&
           std::all_of(block.data + block.length, block.data + kDataBlockBytes, [](unsigned char c) { return c == 0; });
}

// A trace log in a fresh folder; the local date is pinned so that the day
// file cannot change during a test.
class TraceCapture {
public:
    TraceCapture() {
        platform::SetLocalTimeSource([] { return platform::LocalTime{2026, 12, 4, 9, 5, 3, 7}; });
        log.SetLogPath((dir.path() + "/").c_str());
    }
    ~TraceCapture() { platform::SetLocalTimeSource(nullptr); }

    // Occurrences of `needle` in the log file.
    size_t Count(const std::string& needle) const {
        return testsupport::CountOf(testsupport::ReadTextFile(log.CurrentLogFile()), needle);
    }

    testsupport::TempDir dir;
    CTraceLog log;
};

// Records what an assembler hands on.
struct Received {
    std::vector<std::string> notified, queued;
    std::vector<int> errors;
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
