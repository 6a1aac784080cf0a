#pragma once
#include <string>

#include "config/SessionSafeguards.h"

// The keys of section "TcpServerSession-<n>". The initial values are those
// of a server that has not read its configuration yet.
struct ServerSettings {
    std::string ip;  // the only peer address allowed; empty: any
    int port = 0;
    int netheader = 0;
    int HeaderIncluded = 0;
    int TraceConsole = 0;
    int MaskLog = 1;
    int RecvDataDelayTimeOut = 600000;
    int SndRcvTimeout = 50000;
    int EnableKeepAlive = 1;
    int KeepAliveTimes = 20000;
    int KeepAliveInterval = 2000;
    int IsWebsocket = 0;
    int IsUTF8TextData = 0;
    int UTF8TextCodePage = 0;
    int SplitReads = 0;       // 1: every message of a read is delivered
    int WebsocketStrict = 0;  // 1: WebSocket replies as a standard server gives them
    SessionSafeguards safeguards;
};

// Reads the keys of server session `n` from `file` into `settings`.
void ReadServerSettings(const char* file, int n, ServerSettings* settings);
