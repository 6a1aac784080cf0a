#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

// The recursive lock of the system.
class CSafeCriticalSection {
public:
    CSafeCriticalSection() = default;
    virtual ~CSafeCriticalSection() = default;
    CSafeCriticalSection(const CSafeCriticalSection&) = delete;
    CSafeCriticalSection& operator=(const CSafeCriticalSection&) = delete;
    virtual int Lock();
    virtual int Unlock();

private:
    std::recursive_mutex m_section;
};

// Base of every object that owns a thread: derived classes override Run.
class XThread {
public:
    XThread();
    virtual ~XThread();
    XThread(const XThread&) = delete;
    XThread& operator=(const XThread&) = delete;

    // 0 when the thread was started, 1 when it could not be created.
    virtual int Start(unsigned flags = 0, unsigned stackSize = 0, void* security = nullptr);
    virtual int Run() { return 0; }
    virtual void OnExit() {}

    // Waits at most `limitMs` for Run to return; afterwards the object is
    // Stopped whether or not the worker finished. Always 0.
    int Stop(uint32_t limitMs);
    int Terminate();
    int Suspend() { return 0; }
    int Resume() { return 0; }
    int IsRunning();
    void SetRunning(int value);

private:
    struct Control;
    static unsigned ThreadEntry(XThread* pThis, std::shared_ptr<Control> control);

    CSafeCriticalSection m_lock;
    std::shared_ptr<Control> m_control;  // the current worker's handle and finished event
    int m_bRunning = 0;
};
