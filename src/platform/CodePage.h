#pragma once
#include <string>

namespace platform {

// The ANSI code page: UTF-8 on Linux.
unsigned GetACP();

// Decodes `len` bytes of code page `codePage` into code points (one wchar_t
// each). Invalid sequences become U+FFFD. False for an unknown code page.
bool MultiByteToWide(unsigned codePage, const char* data, size_t len, std::wstring* out);

// Encodes code points into code page `codePage`; characters the code page
// cannot hold become '?'. False for an unknown code page.
bool WideToMultiByte(unsigned codePage, const wchar_t* data, size_t len, std::string* out);

}  // namespace platform
