#pragma once
#include <string>
#include <vector>

#include "config/SessionSafeguards.h"

// One entry of the client's host list.
struct _HOST_INFO_ {
    char ip[256];
    int port;
    int cport;
    int netheader;
    int HeaderIncluded;
    int ConnectContinues;
    int SndRcvTimeout;
    int EnableKeepAlive;
    int KeepAliveInterval;
    int KeepAliveTimes;
    int ReconnInterval;
    int RecvDataDelayTimeOut;
};

// The client keys of one session. The initial values are those of a client
// object that has not read its configuration yet.
struct ClientSettings {
    std::string ip;
    int port = 0;
    int cport = 5698;
    int netheader = 4;
    int HeaderIncluded = 0;
    int TraceConsole = 0;
    int MaskLog = 0;
    std::string MsgEndData;
    int ConnectContinues = 2;
    int SndRcvTimeout = 50000;
    int EnableKeepAlive = 1;
    int KeepAliveInterval = 2000;
    int KeepAliveTimes = 20000;
    int ReconnInterval = 5000;
    int RecvDataDelayTimeOut = 600000;
    int AutoConnectOtherServer = 0;
    SessionSafeguards safeguards;  // the opt-in keys of "TcpClientSession-<n>"
    std::vector<_HOST_INFO_> hosts;  // own session first, then the others ascending
};

// Sessions looked at for the host list at most.
constexpr int kMaxListedClientSessions = 120;

// Reads the keys of client session `n` from `file` into `settings`. The host
// list is rebuilt when "AutoConnectOtherServer" is nonzero; otherwise it is
// left as it was and unused.
void ReadClientSettings(const char* file, int n, ClientSettings* settings);

// "tcpipmode" of section "network": 0 client, nonzero server.
int ReadNetworkMode(const char* file);
