#pragma once
#include <cstddef>
#include <string>

// `dir` cut to `maxChars` characters, with '/' appended unless it is empty
// or already ends in '/' or '\'.
std::string WithTrailingSeparator(const char* dir, size_t maxChars);

// Clears `field` and copies `text` into it, cut to size - 1 characters.
void CopyPath(char* field, size_t size, const std::string& text);
