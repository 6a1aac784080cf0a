#pragma once
#include <string>

// Folder of the host process's executable, without a trailing separator,
// copied into `buffer` and cut to `size` - 1 characters.
void GetModuleDir(unsigned size, char* buffer);

// The same folder as a string, cut to `size` - 1 characters.
std::string GetModuleDirString(unsigned size);
