#pragma once
#include <cstdint>

namespace platform {

// Local wall-clock time split into its fields, milliseconds included.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// 32-bit milliseconds of the monotonic clock; wraps as an unsigned number.
uint32_t GetTickCount();
LocalTime GetLocalTime();
void Sleep(uint32_t ms);

// Test seams: replace the clocks (nullptr restores the real ones).
using TickSource = uint32_t (*)();
using LocalTimeSource = LocalTime (*)();
void SetTickSource(TickSource source);
void SetLocalTimeSource(LocalTimeSource source);

}  // namespace platform
