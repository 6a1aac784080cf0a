#include "log/TraceEscape.h"

#include <cstring>

std::string EscapeTraceText(const char* text, size_t len) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            const char escaped[] = {'\\', 'x', kHex[c >> 4], kHex[c & 0x0F]};
            out.append(escaped, sizeof escaped);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string PeerTraceText(const void* data, size_t len, bool escape) {
    const char* text = static_cast<const char*>(data);
    const size_t n = strnlen(text, len);
    return escape ? EscapeTraceText(text, n) : std::string(text, n);
}
