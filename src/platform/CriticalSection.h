#pragma once
#if !defined(_WIN32)
#include <mutex>
#endif

namespace platform {

// A recursive lock: the thread that holds it may take it again and must
// release it as often as it took it. A Win32 critical section on Windows, a
// recursive mutex on Linux. Usable with std::lock_guard.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock();
    void unlock();

private:
#if defined(_WIN32)
    void* m_section;  // the CRITICAL_SECTION, of a size the header need not know
#else
    std::recursive_mutex m_mutex;
#endif
};

}  // namespace platform
