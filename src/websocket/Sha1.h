#pragma once
#include <cstdint>

// SHA-1 message digest (FIPS 180). Feed bytes with Update or operator<<,
// then Finish gives the five chaining words in host byte order.
class SHA1 {
public:
    SHA1();
    virtual ~SHA1() = default;

    void Reset();
    // Input after Finish, or past 2^64 - 1 bits in total, marks the digest
    // corrupted and is dropped.
    void Update(const unsigned char* bytes, unsigned length);
    void Update(const char* chars, unsigned length);
    void Update(unsigned char byte);
    void Update(char c);

    // Zero-terminated texts are fed up to, not including, their zero.
    SHA1& operator<<(const char* text);
    SHA1& operator<<(const unsigned char* text);
    SHA1& operator<<(char c);
    SHA1& operator<<(unsigned char byte);

    // False when corrupted. Pads the message the first time only.
    bool Finish(uint32_t* digest);

private:
    void ProcessBlock();
    void Pad();
    static uint32_t RotateLeft(int bits, uint32_t word);

    uint32_t m_H[5];
    uint32_t m_nLengthLow;   // message length in bits, low word
    uint32_t m_nLengthHigh;  // and high word
    unsigned char m_MessageBlock[64];
    int m_nBlockIndex;
    bool m_bComputed;
    bool m_bCorrupted;
};
