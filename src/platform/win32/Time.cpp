#include "platform/Time.h"

#include <atomic>

#include "platform/win32/Windows.h"

namespace platform {
namespace {
std::atomic<TickSource> g_tickSource{nullptr};
std::atomic<LocalTimeSource> g_localTimeSource{nullptr};
}  // namespace

uint32_t GetTickCount() {
    if (TickSource source = g_tickSource.load()) return source();
    return static_cast<uint32_t>(::GetTickCount());
}

LocalTime GetLocalTime() {
    if (LocalTimeSource source = g_localTimeSource.load()) return source();
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

void SetTickSource(TickSource source) { g_tickSource.store(source); }
void SetLocalTimeSource(LocalTimeSource source) { g_localTimeSource.store(source); }

}  // namespace platform
