#include "platform/CriticalSection.h"

namespace platform {

CriticalSection::CriticalSection() = default;
CriticalSection::~CriticalSection() = default;
void CriticalSection::lock() { m_mutex.lock(); }
void CriticalSection::unlock() { m_mutex.unlock(); }

}  // namespace platform
