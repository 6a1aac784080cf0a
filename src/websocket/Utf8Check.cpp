#include "websocket/Utf8Check.h"

bool IsValidUtf8(const unsigned char* data, size_t length) {
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Sequence length and the range the second byte must fall in, which
        // rules out overlong forms, surrogates and code points past U+10FFFF.
        size_t count;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            count = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            count = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            count = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (length - i < count || data[i + 1] < low || data[i + 1] > high) return false;
        for (size_t k = 2; k < count; ++k)
            if ((data[i + k] & 0xC0) != 0x80) return false;
        i += count;
    }
    return true;
}
