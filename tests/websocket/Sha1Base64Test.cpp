#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "websocket/Base64.h"
#include "websocket/Sha1.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) out += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return out;
}

std::string OpenSslSha1(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), md, &n, EVP_sha1(), nullptr));
    return Hex(md, n);
}

std::string Digest(SHA1& sha) {
    uint32_t words[5];
    if (!sha.Finish(words)) return "corrupted";
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(words[i / 4] >> (24 - 8 * (i % 4)));
    return Hex(bytes, 20);
}

TEST(Sha1Test, FipsExamplesMatchOpenSsl) {
    const std::string examples[] = {"abc", "", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                                    std::string(1000000, 'a')};
    for (const std::string& text : examples) {
        SHA1 sha;
        sha << text.c_str();
        EXPECT_EQ(OpenSslSha1(text), Digest(sha)) << text.substr(0, 20);
    }
}

// Every length 0..300 crosses the padding boundaries (55/56 and 64 bytes per
// block); each input is fed in random pieces through the different forms.
TEST(Sha1Test, RandomInputsOfEveryLengthMatchOpenSsl) {
    std::mt19937 random(9);
    SHA1 sha;
    for (size_t length = 0; length <= 300; ++length) {
        std::string data(length, '\0');
        for (char& c : data) c = static_cast<char>(random());
        sha.Reset();
        for (size_t at = 0; at < length;) {
            size_t piece = std::min<size_t>(length - at, random() % 70);
            switch (random() % 3) {
                case 0: sha.Update(data.data() + at, static_cast<unsigned>(piece)); break;
                case 1: sha.Update(reinterpret_cast<const unsigned char*>(data.data()) + at, piece); break;
                default:
                    piece = 1;
                    sha << static_cast<unsigned char>(data[at]);
            }
            at += piece;
        }
        EXPECT_EQ(OpenSslSha1(data), Digest(sha)) << "length " << length;
    }
}

TEST(Sha1Test, InputAfterFinishMarksTheDigestCorrupted) {
    SHA1 sha;
    sha << "abc";
    const std::string digest = Digest(sha);
    EXPECT_EQ(digest, Digest(sha));  // padded once only
    sha << 'd';
    EXPECT_EQ("corrupted", Digest(sha));
    sha.Reset();
    sha << reinterpret_cast<const unsigned char*>("abc");
    EXPECT_EQ(digest, Digest(sha));
}

TEST(Base64Test, Rfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                          {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                          {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="}};
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(out, Base64Encode(reinterpret_cast<const unsigned char*>(in.data()), in.size()));
}

}  // namespace
