#include "platform/Time.h"

#include <atomic>
#include <ctime>
#include <thread>
#include <chrono>

namespace platform {
namespace {
std::atomic<TickSource> g_tickSource{nullptr};
std::atomic<LocalTimeSource> g_localTimeSource{nullptr};
}  // namespace

uint32_t GetTickCount() {
    if (TickSource source = g_tickSource.load()) return source();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

LocalTime GetLocalTime() {
    if (LocalTimeSource source = g_localTimeSource.load()) return source();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    localtime_r(&ts.tv_sec, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SetTickSource(TickSource source) { g_tickSource.store(source); }
void SetLocalTimeSource(LocalTimeSource source) { g_localTimeSource.store(source); }

}  // namespace platform
