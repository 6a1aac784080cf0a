#pragma once
#include <cstdint>
#include <string>

#include "common/DataBlock.h"

// Header modes, the values of "netheader".
constexpr int kHeaderNone = 0;         // end marker, or one message per read
constexpr int kHeaderBinaryLE16 = 1;   // 2 bytes, least significant first
constexpr int kHeaderDecimal4 = 2;     // 4 ASCII decimal digits
constexpr int kHeaderPerRead = 3;      // one message per read
constexpr int kHeaderBinaryBE16 = 4;   // 2 bytes, most significant first
constexpr int kHeaderBinaryBE32 = 5;   // 4 bytes, most significant first
constexpr int kHeaderEndByte = 6;      // message ends with a 0x03 byte

constexpr unsigned char kEndByte = 0x03;
// In mode 6, data longer than this count as complete even without the end byte.
constexpr uint32_t kEndByteMaxPending = 102145;

// Bytes of the length header that a mode puts in front of a body: 2, 4 or 0.
uint32_t FrameHeaderSize(int headerMode);

// Puts the mode's length header in front of the block's data and returns the
// new length. A block too full to take the header is left unchanged.
unsigned BuildFrame(int headerMode, int headerIncluded, _DATA_BLOCK* block);
// The first two bytes BuildFrame would give a cleared block holding the `len`
// bytes of `body`, without building the frame.
void FramedLeadBytes(int headerMode, int headerIncluded, const unsigned char* body, uint32_t len,
                     unsigned char lead[2]);

// Decides whether the block holds a complete message. When a length-header
// message is complete, its body is moved to the front and the block cut to it.
// `*pending` becomes 1 (incomplete) or 0 (complete), except in the cases where
// the mode leaves it as the caller set it. Returns `*pending`.
// `cutAtEndByte` (the server's split reads): in mode 6 a message ends at its
// first 0x03 byte and the block is cut behind it, instead of taking all data.
int ParseFrame(int headerMode, int headerIncluded, _DATA_BLOCK* block, int* pending, int* bodyLen, int* headerLen,
               std::string endMarker, bool cutAtEndByte = false);

// Size (header and body) of the complete frame that starts `data`, or 0 when
// the `avail` bytes do not hold one yet. Headerless modes give `avail`.
uint32_t CompleteFrameSize(int headerMode, int headerIncluded, const unsigned char* data, uint32_t avail,
                           bool cutAtEndByte = false);

// Bytes that a read must add to the `have` bytes of an incomplete message at
// the start of `pending` to complete it, taken from the `avail` bytes of
// `read`: all of them when the message needs more (or, in headerless modes and
// for a length no block can hold, when no end can be known).
uint32_t BytesBelongingToPending(int headerMode, int headerIncluded, const unsigned char* pending, uint32_t have,
                                 const unsigned char* read, uint32_t avail, bool cutAtEndByte = false);
