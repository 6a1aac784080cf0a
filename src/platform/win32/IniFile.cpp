#include "platform/IniFile.h"

#include "platform/win32/Windows.h"

namespace platform {

int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file) {
    return static_cast<int>(::GetPrivateProfileIntA(section, key, defaultValue, file));
}

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                  unsigned size, const char* file) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file);
}

}  // namespace platform
