#include "config/ClientConfig.h"

#include <cstring>

#include "config/SectionReader.h"
#include "platform/IniFile.h"

namespace {

// The keys every host entry shares with the session's own section.
struct SessionKeys {
    std::string ip;
    int port, cport, netheader, HeaderIncluded;
};

SessionKeys ReadSessionKeys(const char* file, int n) {
    SectionReader s(file, "TcpClientSession-%d", n);
    return {s.Text("ip"), s.Int("port", 0), s.Int("cport", 0), s.Int("netheader", 0), s.Int("HeaderIncluded", 0)};
}

_HOST_INFO_ MakeHost(const SessionKeys& keys) {
    _HOST_INFO_ host{};
    size_t n = keys.ip.size() < sizeof host.ip - 1 ? keys.ip.size() : sizeof host.ip - 1;
    std::memcpy(host.ip, keys.ip.data(), n);
    host.port = keys.port;
    host.cport = keys.cport;
    host.netheader = keys.netheader;
    host.HeaderIncluded = keys.HeaderIncluded;
    return host;
}

}  // namespace

void ReadClientSettings(const char* file, int n, ClientSettings* settings) {
    SessionKeys own = ReadSessionKeys(file, n);
    SectionReader session(file, "TcpClientSession-%d", n);
    settings->ip = own.ip;
    settings->port = own.port;
    settings->cport = own.cport;
    settings->netheader = own.netheader;
    settings->HeaderIncluded = own.HeaderIncluded;
    settings->MaskLog = session.Int("MaskLog", 1);
    settings->TraceConsole = session.Int("TraceConsole", 0);
    settings->MsgEndData = session.Text("MsgEndData");
    settings->safeguards = ReadSessionSafeguards(session);

    SectionReader para(file, "NetworkPara_client_%d", n);
    settings->ConnectContinues = para.Int("ConnectContinues", 1000);
    settings->SndRcvTimeout = para.Int("SndRcvTimeout", 50000);
    settings->EnableKeepAlive = para.Int("EnableKeepAlive", 1);
    settings->KeepAliveTimes = para.Int("KeepAliveTimes", 20000);
    settings->KeepAliveInterval = para.Int("KeepAliveInterval", 2000);
    settings->ReconnInterval = para.Int("ReconnInterval", 5000);
    settings->RecvDataDelayTimeOut = para.Int("RecvDataDelayTimeOut", 600000);

    settings->AutoConnectOtherServer = platform::GetPrivateProfileIntA("Client", "AutoConnectOtherServer", 0, file);
    if (settings->AutoConnectOtherServer == 0) return;

    settings->hosts.clear();
    settings->hosts.push_back(MakeHost(own));
    int count = platform::GetPrivateProfileIntA("SESSIONNUM", "clientnum", 0, file);
    for (int i = 0; i < count && i < kMaxListedClientSessions; ++i) {
        if (i == n) continue;
        _HOST_INFO_ host = MakeHost(ReadSessionKeys(file, i));
        SectionReader other(file, "NetworkPara_client_%d", i);
        host.ConnectContinues = other.Int("ConnectContinues", 1000);
        host.SndRcvTimeout = other.Int("SndRcvTimeout", 50000);
        host.EnableKeepAlive = other.Int("EnableKeepAlive", 1);
        host.KeepAliveTimes = other.Int("KeepAliveTimes", 20000);
        host.KeepAliveInterval = other.Int("KeepAliveInterval", 2000);
        host.ReconnInterval = other.Int("ReconnInterval", 5000);
        host.RecvDataDelayTimeOut = other.Int("RecvDataDelayTimeOut", 1000);
        settings->hosts.push_back(host);
    }
}

int ReadNetworkMode(const char* file) { return platform::GetPrivateProfileIntA("network", "tcpipmode", 0, file); }
