#include "platform/Event.h"

#include "platform/win32/Windows.h"

namespace platform {

Event::Event(bool manualReset, bool initiallySet)
    : m_handle(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr)) {}

Event::~Event() {
    if (m_handle) ::CloseHandle(m_handle);
}

void Event::Set() { ::SetEvent(m_handle); }

void Event::Reset() { ::ResetEvent(m_handle); }

bool Event::Wait(uint32_t timeoutMs) {
    return ::WaitForSingleObject(m_handle, timeoutMs == kInfinite ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace platform
