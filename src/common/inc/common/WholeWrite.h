#pragma once
#include <cstdint>
#include <functional>

class CAsyncSocketEx;

// How long a send may wait for room: "SndRcvTimeout" when above 0, else 50 s.
inline uint32_t SendStallLimitMs(int sndRcvTimeout) {
    return sndRcvTimeout > 0 ? static_cast<uint32_t>(sndRcvTimeout) : 50000u;
}

// Writes all `len` bytes with the plain send of `socket`. A non-blocking socket may
// take only part of a large message; the rest follows as room appears, so
// that the peer never sees half a frame. Waits for room at most `stallMs`
// in all, and not once `stopped` says so. The bytes written, or Send's
// failure result when none were.
int WriteWhole(CAsyncSocketEx& socket, const unsigned char* data, int len, uint32_t stallMs,
               const std::function<bool()>& stopped);
