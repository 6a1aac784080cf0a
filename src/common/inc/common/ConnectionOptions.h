#pragma once
#include "platform/SocketTypes.h"

// The options every connection socket gets, client and server alike.
struct ConnectionOptions {
    int SndRcvTimeout;      // ms; 0 or less keeps the system's
    int EnableKeepAlive;    // 1: keep-alive on
    int KeepAliveTimes;     // ms idle before the first probe
    int KeepAliveInterval;  // ms between probes
};

// Applies, in this order: send and receive time-outs (when above 0), linger
// off, keep-alive, and its idle time and interval (when both are at least 1).
// Failures are ignored: a connection without an option still works.
void ApplyConnectionOptions(platform::SOCKET s, const ConnectionOptions& options);
