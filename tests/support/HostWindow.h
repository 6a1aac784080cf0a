#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace testsupport {

// A host window that records the lParam of every message 9913 (wParam 0) it
// receives. On Windows a real message-only window on a thread of its own; on
// Linux the library's registered window procedure under a made-up handle.
// One at a time.
class HostWindowRecorder {
public:
    HostWindowRecorder();
    ~HostWindowRecorder();
    HostWindowRecorder(const HostWindowRecorder&) = delete;
    HostWindowRecorder& operator=(const HostWindowRecorder&) = delete;

    // The handle as decimal text, for the "NDCWND" parameter.
    uintptr_t handle() const;
    std::vector<intptr_t> Messages() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace testsupport
