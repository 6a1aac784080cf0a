// SHA-1 and Base64 against OpenSSL's: the input, fed in pieces whose sizes
// come from its first bytes, must give OpenSSL's digest; a zero-terminated
// text fed with << the digest of its bytes before the zero; input after the
// digest was taken marks it corrupted; Base64 must equal EVP_EncodeBlock.
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "websocket/Base64.h"
#include "websocket/Sha1.h"

namespace {

std::string BigEndian(const uint32_t words[5]) {
    std::string bytes;
    for (int i = 0; i < 20; ++i) bytes += static_cast<char>(words[i / 4] >> (24 - 8 * (i % 4)));
    return bytes;
}

std::string OpensslSha1(const std::string& s) {
    unsigned char digest[20];
    EVP_Digest(s.data(), s.size(), digest, nullptr, EVP_sha1(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t pieces = in.Byte() % 8;
    std::vector<size_t> cuts;
    for (int i = 0; i < pieces; ++i) cuts.push_back(in.Byte() * 3u);
    const std::string message = in.Rest();

    SHA1 sha;
    size_t pos = 0;
    for (size_t i = 0; pos < message.size(); ++i) {
        const size_t n = i < cuts.size() ? std::min(cuts[i], message.size() - pos) : message.size() - pos;
        if (n == 1) sha.Update(message[pos]);  // the one-byte forms
        else sha.Update(reinterpret_cast<const unsigned char*>(message.data()) + pos, static_cast<unsigned>(n));
        pos += n;
    }
    uint32_t words[5], again[5];
    FUZZ_CHECK(sha.Finish(words) && BigEndian(words) == OpensslSha1(message));
    FUZZ_CHECK(sha.Finish(again) && std::memcmp(words, again, sizeof words) == 0);  // padded once only
    sha.Update('x');
    FUZZ_CHECK(!sha.Finish(again));

    SHA1 text;
    text << message.c_str();
    FUZZ_CHECK(text.Finish(words) && BigEndian(words) == OpensslSha1(message.substr(0, message.find('\0'))));

    std::vector<unsigned char> b64(4 * (message.size() / 3 + 1) + 1);
    const int n = EVP_EncodeBlock(b64.data(), reinterpret_cast<const unsigned char*>(message.data()), static_cast<int>(message.size()));
    FUZZ_CHECK(Base64Encode(reinterpret_cast<const unsigned char*>(message.data()), message.size()) ==
               std::string(reinterpret_cast<char*>(b64.data()), static_cast<size_t>(n)));
    return 0;
}
