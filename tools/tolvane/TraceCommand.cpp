// `tolvane trace FILE [--descramble]`: prints a trace file as the library
// would have written it unscrambled. Scrambled records (ExecuteCMD 1) are
// recognised by their time stamp, so a file whose scrambling was switched on
// or off during the day reads through; --descramble takes every byte as
// scrambled.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "Commands.h"

namespace {

// The scrambling maps each byte 1..126 to 127 minus itself, so it undoes itself.
char Unscramble(char c) {
    const signed char v = static_cast<signed char>(c);
    return v >= 1 && v <= 126 ? static_cast<char>(127 - v) : c;
}

// A record's time stamp "YYYY-MM-DD hh:mm:ss.mmm " at `at`, read plainly or
// unscrambled.
bool StampAt(const std::string& bytes, size_t at, bool scrambled) {
    static const char pattern[] = "dddd-dd-dd dd:dd:dd.ddd ";
    const size_t n = sizeof pattern - 1;
    if (at > bytes.size() || bytes.size() - at < n) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = scrambled ? Unscramble(bytes[at + i]) : bytes[at + i];
        if (pattern[i] == 'd' ? (c < '0' || c > '9') : c != pattern[i]) return false;
    }
    return true;
}

}  // namespace

std::string ReadableTrace(const std::string& bytes, bool descrambleAll) {
    std::string out;
    out.reserve(bytes.size());
    bool scrambled = descrambleAll;
    for (size_t i = 0; i < bytes.size(); ++i) {
        // Every record ends with CR LF, so a new record, plain or scrambled,
        // can begin only at the start or after one.
        const bool recordMayStart = i == 0 || (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0);
        if (!descrambleAll && recordMayStart) {
            if (StampAt(bytes, i, false)) scrambled = false;
            else if (StampAt(bytes, i, true)) scrambled = true;
        }
        out += scrambled ? Unscramble(bytes[i]) : bytes[i];
    }
    return out;
}

int RunTrace(const std::string& file, bool descrambleAll) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        std::fprintf(stderr, "tolvane: %s is a folder; name one of its trace files (<name>YYMMDD.log)\n", file.c_str());
        return 1;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    // An empty file has nothing to insert, which the stream would count as a failure.
    const bool empty = in && in.peek() == std::char_traits<char>::eof() && !in.bad();
    if (!in || (!empty && !(bytes << in.rdbuf()))) {
        std::fprintf(stderr, "tolvane: cannot read %s\n", file.c_str());
        return 1;
    }
    const std::string text = ReadableTrace(bytes.str(), descrambleAll);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
