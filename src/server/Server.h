#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "common/DataBlock.h"
#include "common/ReceiveQueue.h"
#include "log/TraceLog.h"

class CITolvane;

// The server side of the service. It reads its section and keeps the trace
// log, receive queue and status that the service object forwards to; the
// listening socket and its session are not part of this build yet, so
// StartServer reports that listening could not start.
class CServer : public CTraceLog {
public:
    CServer() { m_RecvBlock.Clear(); }
    ~CServer() override = default;

    void SetService(CITolvane* service) { m_pService = service; }
    void SetConfigPath(const char* path);
    void ReadConfig(int index);
    int StartServer();
    void StopServer();
    int GetNetworkStatus() const { return m_nStatus; }
    int SendData(const void* data, int len, const void* logText, int logLen);
    int SetRecvDataType(int type) { return m_queue.SetRecvDataType(type); }
    int RecvData(unsigned char* buf, int* len, unsigned long timeoutMs) {
        return m_queue.TakeMessage(&m_RecvBlock, buf, len, timeoutMs, m_nStatus == 1);
    }

    void SetHostWnd(uintptr_t window) { m_hNotifyWnd = window; }

    _DATA_BLOCK m_RecvBlock;

protected:
    std::string ConsoleTitle() const override;

private:
    char m_szConfigPath[1024] = {0};
    std::string m_strValidIp;
    std::atomic<int> m_nPort{0};
    std::atomic<int> m_nStatus{1};
    CReceiveQueue m_queue;
    std::atomic<CITolvane*> m_pService{nullptr};
    std::atomic<uintptr_t> m_hNotifyWnd{0};
};
