#pragma once
#include <cstddef>
#include <string>

// Base64 of RFC 4648 (standard alphabet, padded with '=').
std::string Base64Encode(const unsigned char* data, size_t length);
