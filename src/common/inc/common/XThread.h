#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/CriticalSection.h"

// The recursive lock of the system: the holder may take it again and must
// release it as often as it took it.
class CSafeCriticalSection {
public:
    CSafeCriticalSection() = default;
    virtual ~CSafeCriticalSection() = default;
    CSafeCriticalSection(const CSafeCriticalSection&) = delete;
    CSafeCriticalSection& operator=(const CSafeCriticalSection&) = delete;
    virtual int Lock();
    virtual int Unlock();

private:
    platform::CriticalSection m_section;
};

// Base of every object that owns a thread: derived classes override Run.
//
// States: Idle (never started), Started (thread held, Run not yet entered),
// Running (flag 1), Finished (Run returned, the worker released its thread),
// Stopped (after Stop or Terminate; a later Start begins afresh).
//
// There is no forced thread termination on Linux. When Stop's limit passes
// (or on Terminate) the worker is let go instead: it runs on detached, never
// touches this object again after its Run returns (no running flag, no
// OnExit), and a newer Start is not disturbed by it. Its Run must still not
// use the object once the object is gone, so every Run must watch for the
// stop its owner asks for.
class XThread {
public:
    XThread();
    virtual ~XThread();
    XThread(const XThread&) = delete;
    XThread& operator=(const XThread&) = delete;

    // 0 when the thread was started, 1 when it could not be created. Flags,
    // stack size and security are accepted for compatibility and ignored.
    // Does not test whether a thread runs already.
    virtual int Start(unsigned flags = 0, unsigned stackSize = 0, void* security = nullptr);
    virtual int Run() { return 0; }
    // The last call made on the worker thread, after Run returned.
    virtual void OnExit() {}

    // Waits at most `limitMs` (platform::kInfinite: no limit) for Run to
    // return; then the object is Stopped, whether or not the worker finished.
    // Returns 0 at once when no thread is held. Always 0.
    int Stop(uint32_t limitMs);
    // Lets the worker go at once; the object is Stopped. Always 0.
    int Terminate();
    int Suspend() { return 0; }
    int Resume() { return 0; }
    int IsRunning();
    void SetRunning(int value);
    // True on the thread the last Start made, while the object holds it.
    bool IsWorkerThread();

private:
    struct Control;
    static unsigned ThreadEntry(std::shared_ptr<Control> control);
    static void Release(Control& control);
    static bool HandleHeld(Control& control);
    static bool OnWorkerThread(Control& control);
    // Releases the worker (joined or let go) and leaves the object Stopped.
    void LetGo(const std::shared_ptr<Control>& control);
    std::shared_ptr<Control> CurrentControl();

    CSafeCriticalSection m_lock;         // guards m_bRunning and m_control
    std::shared_ptr<Control> m_control;  // the current worker: thread, finished event
    int m_bRunning = 0;
};
