#include "platform/CodePage.h"

#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

std::string CodePageName(unsigned cp) {
    switch (cp) {
        case 65001: return "UTF-8";
        case 936: return "CP936";
        case 54936: return "GB18030";
        case 950: return "BIG5";
        case 932: return "CP932";
        case 949: return "CP949";
        case 20127: return "ASCII";
        default: break;
    }
    if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
    return "CP" + std::to_string(cp);
}

// Runs iconv over the whole input; on an invalid or unconvertible unit it
// emits `replacement` and skips `skip` input bytes.
bool Convert(const char* to, const char* from, const char* in, size_t inLen, size_t skip,
             const std::string& replacement, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->clear();
    char buf[4096];
    char* src = const_cast<char*>(in);
    size_t left = inLen;
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out->append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (truncated sequence at the end): replace and move on.
        out->append(replacement);
        size_t n = skip < left ? skip : left;
        src += n;
        left -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t room = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out->append(buf, static_cast<size_t>(dst - buf));
    iconv_close(cd);
    return true;
}

}  // namespace

unsigned GetACP() { return 65001; }

bool MultiByteToWide(unsigned codePage, const char* data, size_t len, std::wstring* out) {
    std::string bytes;
    const wchar_t replacement = 0xFFFD;
    std::string rep(reinterpret_cast<const char*>(&replacement), sizeof replacement);
    if (!Convert("WCHAR_T", CodePageName(codePage).c_str(), data, len, 1, rep, &bytes)) return false;
    out->assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return true;
}

bool WideToMultiByte(unsigned codePage, const wchar_t* data, size_t len, std::string* out) {
    std::string q = "?";
    // The replacement must be in the target code page; '?' is ASCII in all of them.
    return Convert(CodePageName(codePage).c_str(), "WCHAR_T", reinterpret_cast<const char*>(data),
                   len * sizeof(wchar_t), sizeof(wchar_t), q, out);
}

}  // namespace platform
