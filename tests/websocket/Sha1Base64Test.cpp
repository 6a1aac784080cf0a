#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "websocket/Base64.h"
#include "websocket/Sha1.h"

namespace {

std::string OpenSslSha1(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha1(), nullptr);
    return std::string(md, md + n);
}

std::string Digest(SHA1& sha) {
    uint32_t words[5];
    std::string bytes;
    if (!sha.Finish(words)) return "corrupted";
    for (int i = 0; i < 20; ++i) bytes += static_cast<char>(words[i / 4] >> (24 - 8 * (i % 4)));
    return bytes;
}

// The FIPS 180 examples and random inputs of every length 0..300 (across the
// padding boundaries), fed in random pieces through the different forms.
TEST(Sha1Test, DigestsMatchOpenSsl) {
    std::mt19937 random(9);
    std::vector<std::string> inputs = {"abc", "", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                                       std::string(1000000, 'a')};
    for (size_t length = 0; length <= 300; ++length) {
        inputs.emplace_back(length, '\0');
        for (char& c : inputs.back()) c = static_cast<char>(random());
    }
    SHA1 sha;
    for (const std::string& data : inputs) {
        sha.Reset();
        for (size_t at = 0, piece = 0; at < data.size(); at += piece) {
            piece = std::min<size_t>(data.size() - at, random() % 70);
            if (piece % 3 == 2) {
                sha << static_cast<unsigned char>(data[at]);
                piece = 1;
            } else if (piece % 3 == 1) {
                sha.Update(reinterpret_cast<const unsigned char*>(data.data()) + at, static_cast<unsigned>(piece));
            } else {
                sha.Update(data.data() + at, static_cast<unsigned>(piece));
            }
        }
        EXPECT_EQ(OpenSslSha1(data), Digest(sha)) << "length " << data.size();
    }
    sha.Reset();
    sha << "abc";
    EXPECT_EQ(OpenSslSha1("abc"), Digest(sha));
    EXPECT_EQ(OpenSslSha1("abc"), Digest(sha));  // padded once only
    sha << 'd';
    EXPECT_EQ("corrupted", Digest(sha));  // input after Finish
}

TEST(Base64Test, Rfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="}};
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(out, Base64Encode(reinterpret_cast<const unsigned char*>(in.data()), in.size()));
}

}  // namespace
