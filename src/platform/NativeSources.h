#pragma once
#include <cstdint>
#include <string>

#include "platform/Time.h"

// What each backend reads from its system. The shared layer puts the test
// seams in front of them (SetModuleFileNameForTest, SetTickSource,
// SetLocalTimeSource), so the backends never see the overrides.
namespace platform::native {

std::string ModuleFileName();
uint32_t TickCount();
LocalTime LocalTimeNow();

}  // namespace platform::native
