#pragma once
#include <string>

namespace platform {

// Full path of the process's executable (not of this library).
std::string ProcessModuleFileName();

// The separator put between a folder and a name: '/' on Linux, '\' on Windows.
char PathSeparator();

// Creates each missing folder of `path` up to its last separator.
bool MakeSureDirectoryPathExists(const std::string& path);

// Test seam: pretend the executable lives at `path` (empty restores).
void SetModuleFileNameForTest(const std::string& path);

}  // namespace platform
