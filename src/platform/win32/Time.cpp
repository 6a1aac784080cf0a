#include "platform/Time.h"

#include "platform/NativeSources.h"
#include "platform/win32/Windows.h"

namespace platform {

uint32_t native::TickCount() {
    return static_cast<uint32_t>(::GetTickCount());
}

LocalTime native::LocalTimeNow() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime t;
    t.year = now.wYear;
    t.month = now.wMonth;
    t.day = now.wDay;
    t.hour = now.wHour;
    t.minute = now.wMinute;
    t.second = now.wSecond;
    t.millisecond = now.wMilliseconds;
    return t;
}

void Sleep(uint32_t ms) { ::Sleep(ms); }

}  // namespace platform
