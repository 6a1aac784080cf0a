#pragma once
#include <cstddef>
#include <string>

class CTraceLog;

// The framing configuration of one session.
struct FramingSettings {
    int netHeader = 4;                  // "netheader": header mode
    int headerIncluded = 0;             // "HeaderIncluded": 1 = header length counts the header
    std::string endMarker;              // "MsgEndData": end marker of mode 0
    int recvDataDelayTimeOut = 600000;  // "RecvDataDelayTimeOut": ms an incomplete message may wait
    bool cutAtEndByte = false;          // mode 6: a message ends at its first 0x03 (the server's "SplitReads")
    bool cleanFraming = false;          // "CleanFraming": fresh assembly per connection, empty frames skipped
};

// Longest end marker the receive comparison handles.
constexpr size_t kMaxEndMarkerLength = 127;

// The end marker a session should use: `marker` itself, or an empty marker
// (with a trace line in `log`, when given) when it is too long.
std::string ValidateEndMarker(const std::string& marker, CTraceLog* log);
