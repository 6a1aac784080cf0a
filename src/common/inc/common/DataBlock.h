#pragma once
#include <cstdint>
#include <cstring>

// The fixed message buffer used everywhere: 102400 data bytes and a length.
constexpr uint32_t kDataBlockBytes = 102400;

struct _DATA_BLOCK {
    unsigned char data[kDataBlockBytes];
    uint32_t length;

    // Data zeroed and length 0.
    void Clear() {
        std::memset(data, 0, sizeof data);
        length = 0;
    }
};

static_assert(sizeof(_DATA_BLOCK) == 102404, "a data block is 102400 bytes and a 32-bit length");
