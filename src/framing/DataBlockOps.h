#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/DataBlock.h"

// Block operations that touch only the bytes in use. Every writer keeps the
// bytes beyond `length` zero, so clearing [0, length) leaves a block exactly as
// a full clear would, without sweeping 100 KB per message.

void ClearDataBlock(_DATA_BLOCK* block);
// Replaces the content by `len` bytes of `data`; more than a block holds is cut.
void SetDataBlock(_DATA_BLOCK* block, const void* data, uint32_t len);
// Appends `len` bytes behind the content; the caller checks that they fit.
void AppendDataBlock(_DATA_BLOCK* block, const void* data, uint32_t len);

// Bytes read as text: up to the first zero byte, never past `len`.
std::string BytesText(const unsigned char* data, size_t len);
// The block's data read as text, as a "%s" of the data would show them.
std::string DataBlockText(const _DATA_BLOCK& block);
