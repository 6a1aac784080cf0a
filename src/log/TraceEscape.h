#pragma once
#include <cstddef>
#include <string>

// `len` bytes of `text` with every byte below 0x20 other than tab, and 0x7F,
// written as \xNN (two upper-case hex digits) and every backslash doubled,
// so that a peer's bytes can never end a trace record or start one of their own.
std::string EscapeTraceText(const char* text, size_t len);

// A peer's bytes as a trace line shows them: up to the first zero byte and
// never past `len`, escaped as above when `escape` ("TraceEscapes" 1).
std::string PeerTraceText(const void* data, size_t len, bool escape);
