#include "common/PathText.h"

#include <cstring>

#include "platform/PathSeparators.h"
#include "platform/Paths.h"

std::string WithTrailingSeparator(const char* dir, size_t maxChars) {
    std::string folder(dir, strnlen(dir, maxChars));
    if (!folder.empty() && !platform::IsPathSeparator(folder.back())) folder += platform::PathSeparator();
    return folder;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return folder + platform::PathSeparator() + name;
}

void CopyPath(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
}
