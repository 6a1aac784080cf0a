#include "framing/DataBlockOps.h"

#include <algorithm>
#include <cstring>

namespace {
uint32_t UsedBytes(const _DATA_BLOCK& block) { return std::min(block.length, kDataBlockBytes); }
}  // namespace

void ClearDataBlock(_DATA_BLOCK* block) {
    std::memset(block->data, 0, UsedBytes(*block));
    block->length = 0;
}

void SetDataBlock(_DATA_BLOCK* block, const void* data, uint32_t len) {
    len = std::min(len, kDataBlockBytes);
    uint32_t used = UsedBytes(*block);
    if (len > 0) std::memcpy(block->data, data, len);
    if (used > len) std::memset(block->data + len, 0, used - len);
    block->length = len;
}

void AppendDataBlock(_DATA_BLOCK* block, const void* data, uint32_t len) {
    uint32_t used = UsedBytes(*block);
    len = std::min(len, kDataBlockBytes - used);
    if (len > 0) std::memcpy(block->data + used, data, len);
    block->length = used + len;
}

std::string BytesText(const unsigned char* data, size_t len) {
    const void* zero = std::memchr(data, 0, len);
    size_t n = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - data) : len;
    return std::string(reinterpret_cast<const char*>(data), n);
}

std::string DataBlockText(const _DATA_BLOCK& block) { return BytesText(block.data, UsedBytes(block)); }
