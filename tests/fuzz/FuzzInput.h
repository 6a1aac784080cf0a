#pragma once
// What every fuzz target shares: a cursor over the fuzzer's bytes and a check
// that aborts (so that libFuzzer keeps the input) with the reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_p(data), m_n(size) {}
    bool Empty() const { return m_n == 0; }
    size_t Left() const { return m_n; }
    // 0 once the input is used up.
    uint8_t Byte() {
        if (m_n == 0) return 0;
        --m_n;
        return *m_p++;
    }
    // Up to `count` bytes, fewer at the end of the input.
    std::string Take(size_t count) {
        if (count > m_n) count = m_n;
        std::string s(reinterpret_cast<const char*>(m_p), count);
        m_p += count;
        m_n -= count;
        return s;
    }
    std::string Rest() { return Take(m_n); }

private:
    const uint8_t* m_p;
    size_t m_n;
};

// Whether `n` bytes (at most a data block) are all zero.
inline bool AllZero(const unsigned char* p, size_t n) {
    static const unsigned char zeros[102400] = {};
    return n <= sizeof zeros && std::memcmp(p, zeros, n) == 0;
}

}  // namespace fuzz
