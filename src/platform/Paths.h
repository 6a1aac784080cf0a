#pragma once
#include <string>

namespace platform {

// Full path of the process's executable (not of this library).
std::string GetModuleFileName();

// Creates each missing folder of `path` up to its last '/'.
bool MakeSureDirectoryPathExists(const std::string& path);

// Test seam: pretend the executable lives at `path` (empty restores).
void SetModuleFileNameForTest(const std::string& path);

}  // namespace platform
