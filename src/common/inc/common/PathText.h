#pragma once
#include <cstddef>
#include <string>

// `dir` cut to `maxChars` characters, with the platform's separator appended
// unless it is empty or already ends in '/' or '\'.
std::string WithTrailingSeparator(const char* dir, size_t maxChars);

// `folder`, the platform's separator and `name`.
std::string PathInFolder(const std::string& folder, const std::string& name);

// Clears `field` and copies `text` into it, cut to size - 1 characters.
void CopyPath(char* field, size_t size, const std::string& text);
