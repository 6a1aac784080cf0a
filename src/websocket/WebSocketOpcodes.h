#pragma once

// Frame opcodes of RFC 6455.
namespace wsopcode {
constexpr int kContinuation = 0;
constexpr int kText = 1;
constexpr int kBinary = 2;
constexpr int kClose = 8;
constexpr int kPing = 9;
constexpr int kPong = 10;
}  // namespace wsopcode
