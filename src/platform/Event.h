#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A Win32-style event: manual-reset events stay signalled until reset,
// auto-reset events release one waiter and reset themselves.
class Event {
public:
    explicit Event(bool manualReset = false, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled, false when the time limit passed.
    bool Wait(uint32_t timeoutMs);

private:
#if defined(_WIN32)
    void* m_handle;  // the Win32 event object
#else
    std::mutex m_mutex;
    std::condition_variable m_cond;
    const bool m_manualReset;
    bool m_signalled;
#endif
};

}  // namespace platform
