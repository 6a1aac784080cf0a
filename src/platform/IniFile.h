#pragma once
#include <cstddef>

namespace platform {

// Private-profile reads with the Windows results: names compared without
// regard to case, first section and key win, one pair of surrounding quotes
// removed, values cut to the buffer, the file read afresh at every call.
int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file);

// Copies the value (or `defaultValue` when file, section or key is missing)
// into `buffer`, cut to size - 1 characters; returns the characters copied.
unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* file);

}  // namespace platform
