#include "config/ServerConfig.h"

#include "config/SectionReader.h"
#include "platform/CodePage.h"

void ReadServerSettings(const char* file, int n, ServerSettings* settings) {
    SectionReader s(file, "TcpServerSession-%d", n);
    settings->ip = s.Text("ip");
    settings->port = s.Int("port", 0);
    settings->netheader = s.Int("netheader", 0);
    settings->HeaderIncluded = s.Int("HeaderIncluded", 0);
    settings->TraceConsole = s.Int("TraceConsole", 0);
    settings->MaskLog = s.Int("MaskLog", 1);
    settings->RecvDataDelayTimeOut = s.Int("RecvDataDelayTimeOut", 600000);
    settings->SndRcvTimeout = s.Int("SndRcvTimeout", 50000);
    settings->EnableKeepAlive = s.Int("EnableKeepAlive", 1);
    settings->KeepAliveTimes = s.Int("KeepAliveTimes", 20000);
    settings->KeepAliveInterval = s.Int("KeepAliveInterval", 2000);
    settings->IsWebsocket = s.Int("IsWebsocket", 0);
    settings->IsUTF8TextData = s.Int("IsUTF8TextData", 0);
    settings->UTF8TextCodePage = s.Int("UTF8TextCodePage", static_cast<int>(platform::GetACP()));
    settings->SplitReads = s.Int("SplitReads", 0);
    settings->WebsocketStrict = s.Int("WebsocketStrict", 0);
    settings->safeguards = ReadSessionSafeguards(s);
}
