#include "common/XThread.h"

#include <system_error>
#include <thread>

#include "platform/Event.h"

int CSafeCriticalSection::Lock() {
    m_section.lock();
    return 0;
}

int CSafeCriticalSection::Unlock() {
    m_section.unlock();
    return 0;
}

// One per Start, shared by the object and its worker. The worker touches the
// object only under `mutex` and only while `owner` is set, so the object can
// let a worker go (Stop's limit, Terminate, destruction) by clearing `owner`.
// Holding `mutex` while the thread is created is the start latch.
struct XThread::Control {
    std::recursive_mutex mutex;
    XThread* owner = nullptr;
    std::thread thread;
    bool handleHeld = false;  // the thread is held; released by the worker or the object
    bool workerDone = false;  // the worker has made its last call on the object
    platform::Event finished{true, false};
};

XThread::XThread() = default;

XThread::~XThread() {
    if (std::shared_ptr<Control> control = CurrentControl()) Release(*control);
}

std::shared_ptr<XThread::Control> XThread::CurrentControl() {
    m_lock.Lock();
    std::shared_ptr<Control> control = m_control;
    m_lock.Unlock();
    return control;
}

// Cuts the worker loose from the object. A worker that is done is joined
// (it is only returning); one still running is detached.
void XThread::Release(Control& control) {
    std::thread thread;
    bool done;
    {
        std::lock_guard<std::recursive_mutex> guard(control.mutex);
        control.owner = nullptr;
        control.handleHeld = false;
        thread = std::move(control.thread);
        done = control.workerDone;
    }
    if (!thread.joinable()) return;
    if (done && thread.get_id() != std::this_thread::get_id())
        thread.join();
    else
        thread.detach();
}

int XThread::Start(unsigned /*flags*/, unsigned /*stackSize*/, void* /*security*/) {
    auto control = std::make_shared<Control>();
    control->owner = this;
    m_lock.Lock();
    std::shared_ptr<Control> previous = m_control;
    m_control = control;
    m_lock.Unlock();
    if (previous) Release(*previous);

    std::lock_guard<std::recursive_mutex> latch(control->mutex);
    try {
        control->thread = std::thread(&XThread::ThreadEntry, control);
    } catch (const std::system_error&) {
        control->owner = nullptr;
        return 1;
    }
    control->handleHeld = true;
    return 0;
}

unsigned XThread::ThreadEntry(std::shared_ptr<Control> control) {
    XThread* self;
    {
        std::lock_guard<std::recursive_mutex> guard(control->mutex);
        self = control->owner;
        if (self) self->SetRunning(1);
    }
    if (self) self->Run();
    std::lock_guard<std::recursive_mutex> guard(control->mutex);
    if (XThread* owner = control->owner) {
        owner->SetRunning(0);
        control->finished.Set();
        control->handleHeld = false;
        owner->OnExit();
    } else {
        control->finished.Set();
    }
    control->workerDone = true;
    return 0;
}

bool XThread::HandleHeld(Control& control) {
    std::lock_guard<std::recursive_mutex> guard(control.mutex);
    return control.handleHeld;
}

bool XThread::OnWorkerThread(Control& control) {
    std::lock_guard<std::recursive_mutex> guard(control.mutex);
    return control.thread.get_id() == std::this_thread::get_id();
}

bool XThread::IsWorkerThread() {
    std::shared_ptr<Control> control = CurrentControl();
    return control && OnWorkerThread(*control);
}

void XThread::LetGo(const std::shared_ptr<Control>& control) {
    Release(*control);
    m_lock.Lock();
    if (m_control == control) m_control.reset();
    m_lock.Unlock();
    SetRunning(0);
}

int XThread::Stop(uint32_t limitMs) {
    std::shared_ptr<Control> control = CurrentControl();
    if (!control) return 0;
    if (!HandleHeld(*control)) {
        Release(*control);  // joins a worker that finished on its own
        return 0;
    }
    // A worker that stops itself cannot wait for its own end: it ends when its
    // Run returns, and a later Stop from another thread waits for that.
    if (OnWorkerThread(*control)) return 0;
    control->finished.Wait(limitMs);
    LetGo(control);
    return 0;
}

int XThread::Terminate() {
    std::shared_ptr<Control> control = CurrentControl();
    if (control && HandleHeld(*control)) LetGo(control);
    return 0;
}

int XThread::IsRunning() {
    m_lock.Lock();
    int running = m_bRunning;
    m_lock.Unlock();
    return running;
}

void XThread::SetRunning(int value) {
    m_lock.Lock();
    m_bRunning = value;
    m_lock.Unlock();
}
