#include "websocket/Sha1.h"

SHA1::SHA1() { Reset(); }

void SHA1::Reset() {
    m_nLengthLow = 0;
    m_nLengthHigh = 0;
    m_nBlockIndex = 0;
    m_H[0] = 0x67452301;
    m_H[1] = 0xEFCDAB89;
    m_H[2] = 0x98BADCFE;
    m_H[3] = 0x10325476;
    m_H[4] = 0xC3D2E1F0;
    m_bComputed = false;
    m_bCorrupted = false;
}

void SHA1::Update(const unsigned char* bytes, unsigned length) {
    for (unsigned i = 0; i < length; ++i) {
        if (m_bComputed || m_bCorrupted) {
            m_bCorrupted = true;
            return;
        }
        m_MessageBlock[m_nBlockIndex++] = bytes[i];
        m_nLengthLow += 8;
        if (m_nLengthLow == 0 && ++m_nLengthHigh == 0) m_bCorrupted = true;  // past 2^64 - 1 bits
        if (m_nBlockIndex == 64) ProcessBlock();
    }
}

void SHA1::Update(const char* chars, unsigned length) {
    Update(reinterpret_cast<const unsigned char*>(chars), length);
}

void SHA1::Update(unsigned char byte) { Update(&byte, 1); }

void SHA1::Update(char c) { Update(reinterpret_cast<const unsigned char*>(&c), 1); }

SHA1& SHA1::operator<<(const char* text) {
    while (text && *text) Update(*text++);
    return *this;
}

SHA1& SHA1::operator<<(const unsigned char* text) {
    while (text && *text) Update(*text++);
    return *this;
}

SHA1& SHA1::operator<<(char c) {
    Update(c);
    return *this;
}

SHA1& SHA1::operator<<(unsigned char byte) {
    Update(byte);
    return *this;
}

bool SHA1::Finish(uint32_t* digest) {
    if (m_bCorrupted) return false;
    if (!m_bComputed) {
        Pad();
        m_bComputed = true;
    }
    for (int i = 0; i < 5; ++i) digest[i] = m_H[i];
    return true;
}

uint32_t SHA1::RotateLeft(int bits, uint32_t word) { return (word << bits) | (word >> (32 - bits)); }

void SHA1::ProcessBlock() {
    static const uint32_t K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    uint32_t W[80];
    for (int t = 0; t < 16; ++t)
        W[t] = uint32_t(m_MessageBlock[t * 4]) << 24 | uint32_t(m_MessageBlock[t * 4 + 1]) << 16 |
               uint32_t(m_MessageBlock[t * 4 + 2]) << 8 | uint32_t(m_MessageBlock[t * 4 + 3]);
    for (int t = 16; t < 80; ++t) W[t] = RotateLeft(1, W[t - 3] ^ W[t - 8] ^ W[t - 14] ^ W[t - 16]);

    uint32_t A = m_H[0], B = m_H[1], C = m_H[2], D = m_H[3], E = m_H[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f;
        if (t < 20)
            f = (B & C) | (~B & D);
        else if (t < 40 || t >= 60)
            f = B ^ C ^ D;
        else
            f = (B & C) | (B & D) | (C & D);
        uint32_t temp = RotateLeft(5, A) + f + E + W[t] + K[t / 20];
        E = D;
        D = C;
        C = RotateLeft(30, B);
        B = A;
        A = temp;
    }
    m_H[0] += A;
    m_H[1] += B;
    m_H[2] += C;
    m_H[3] += D;
    m_H[4] += E;
    m_nBlockIndex = 0;
}

// Appends 0x80, zeros and the 64-bit big-endian bit length, so that the
// message ends on a block boundary, and compresses the last block(s).
void SHA1::Pad() {
    m_MessageBlock[m_nBlockIndex++] = 0x80;
    if (m_nBlockIndex > 56) {
        while (m_nBlockIndex < 64) m_MessageBlock[m_nBlockIndex++] = 0;
        ProcessBlock();
    }
    while (m_nBlockIndex < 56) m_MessageBlock[m_nBlockIndex++] = 0;
    for (int i = 0; i < 4; ++i) {
        m_MessageBlock[56 + i] = static_cast<unsigned char>(m_nLengthHigh >> (24 - 8 * i));
        m_MessageBlock[60 + i] = static_cast<unsigned char>(m_nLengthLow >> (24 - 8 * i));
    }
    ProcessBlock();
}
