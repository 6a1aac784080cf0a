#pragma once
#include <cstddef>

// True when the bytes are well-formed UTF-8 (RFC 3629): no overlong forms,
// no surrogates, nothing above U+10FFFF, no sequence cut at the end.
bool IsValidUtf8(const unsigned char* data, size_t length);
