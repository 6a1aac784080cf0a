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

// `s` without the characters of `blanks` at either end.
inline std::string Trim(const std::string& s, const char* blanks) {
    const size_t b = s.find_first_not_of(blanks);
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The number at the start of `s` as atoi-like readers take it: `blanks`, a
// sign, decimal digits; wraps at 32 bits.
inline int LeadingNumber(const std::string& s, const char* blanks) {
    size_t i = s.find_first_not_of(blanks);
    if (i == std::string::npos) return 0;
    const bool negative = s[i] == '-';
    if (s[i] == '-' || s[i] == '+') ++i;
    uint32_t n = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(s[i] - '0');
    return static_cast<int>(negative ? 0u - n : n);
}

}  // namespace fuzz
