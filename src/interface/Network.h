#pragma once
#include "client/Connector.h"
#include "interface/Tolvane.h"
#include "server/Server.h"

// The plain interface's implementation: its own client and server, its mode
// fixed from the configuration file at construction, no host notifications
// except window message 9913 to the window named by "NDCWND".
class ONetwork : public ONetworkItf {
public:
    ONetwork();
    virtual ~ONetwork();

    int Start(int reserved, int sessionIndex) override;
    int Stop(int reserved1, int reserved2) override;
    int Send(int reserved1, int reserved2, int reserved3, const void* data, int len, int reserved4) override;
    int Recv(int reserved1, int reserved2, int reserved3, void* buf, int* len, unsigned long timeoutMs) override;
    int GetStatus(int reserved1, int reserved2) override;
    int Control(const char* text, const char* dir, const char* params, int reserved) override;
    void Reserved() override {}
    void ReservedWithArg(int) override {}
    void Release() override { delete this; }

private:
    void StopActiveSide();

    int m_nMode = 0;
    CConnector m_client;
    CServer m_server;
    char m_szConfigPath[1024];
};

// The window handle named by "NDCWND" in a ";"-separated parameter text, or
// -1 when no item names it.
intptr_t ParseHostWindowParameter(const char* params);
