#include "platform/CriticalSection.h"

#include "platform/win32/Windows.h"

namespace platform {

CriticalSection::CriticalSection() : m_section(new CRITICAL_SECTION) {
    ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(m_section));
}

CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(m_section));
    delete static_cast<CRITICAL_SECTION*>(m_section);
}

void CriticalSection::lock() { ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_section)); }
void CriticalSection::unlock() { ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(m_section)); }

}  // namespace platform
