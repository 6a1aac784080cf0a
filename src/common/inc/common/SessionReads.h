#pragma once
#include <cstdint>

// A session's read asks for at most this many bytes, two less than a block
// holds (only the server's TLS read asks for a whole block).
constexpr int kSessionReadBytes = 102398;
// How often a session thread polls its TLS connection for data.
constexpr uint32_t kTlsPollMs = 50;
