#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "framing/FramingSettings.h"
#include "common/DataBlock.h"
#include "common/HostEvents.h"
#include "common/ReceiveQueue.h"
#include "config/ServerConfig.h"
#include "log/TraceLog.h"
#include "server/ServerClient.h"
#include "tls/OSSL.h"
#include "websocket/WebSocket.h"

// The server side of the service: the listening socket itself, with the one
// session that serves the connected peer. It accepts a peer on the listening
// socket's notification thread, refuses every address but the configured
// one, and hands the connection to the session in place of the previous
// peer. Received messages wait in its queue for the host's receive call;
// every step is written to its trace log.
class CServer : public CWebSocket, public CTraceLog {
public:
    CServer();
    ~CServer() override;

    void Close() override;
    void OnAccept(int error) override;
    void OnClose(int error) override;
    void WriteLog(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void WriteLogEx(int direction, const char* format, ...) override __attribute__((format(printf, 3, 4)));
    // Up to four attempts, 1000 ms apart; 1 when a socket was created.
    virtual int CreateServerSocket();

    // Set once, before the server is started.
    void SetService(std::unique_ptr<CHostEvents> service);
    void SetConfigPath(const char* path);
    void ReadConfig(int index);
    // 1 when listening (or already listening), 0 on failure.
    int StartServer();
    // Ends the connection and the listening socket, and returns once no
    // library thread of the server runs a handler any more (a handler that
    // calls this itself excepted). Starts and stops take turns. A start or
    // stop that a handler makes while another thread's stop runs (which may
    // be waiting for that handler) does not wait: the stop under way leaves
    // the server stopped, and such a start fails.
    void StopServer();
    int GetNetworkStatus() const { return m_nStatus; }
    // The session's send result, or -1 when no peer is connected.
    int SendData(const void* data, int len, const void* logText, int logLen);

    void PushDataBlock(const _DATA_BLOCK& block) { m_queue.PushDataBlock(block); }
    void PushBytes(const unsigned char* data, uint32_t len) { m_queue.PushBytes(data, len); }
    // Messages pushed on this thread while the result lives wake RecvData once.
    CReceiveQueue::WakeBatch BatchWakeUps() { return CReceiveQueue::WakeBatch(m_queue); }
    int PopDataBlock(_DATA_BLOCK* out) { return m_queue.PopDataBlock(out); }
    int WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs) {
        return m_queue.WaitDataBlock(out, timeoutMs, m_nStatus == 1);
    }
    int SetRecvDataType(int type) { return m_queue.SetRecvDataType(type); }
    // The host's receive call: 0 and the oldest message, or -1.
    int RecvData(unsigned char* buf, int* len, unsigned long timeoutMs) {
        return m_queue.TakeMessage(buf, len, timeoutMs, m_nStatus == 1);
    }

    // What the session reads of its server.
    FramingSettings GetFramingSettings() const;
    ServerSettings GetSettings() const;
    int UsesTls() const { return m_Tls.IsUseSSL(); }
    OSSL& Tls() { return m_Tls; }
    // The path SetConfigPath gave.
    std::string ConfigPath() const;
    // The session's peer went away.
    void MarkPeerGone() { m_nStatus = 1; }
    CServerClient& Session() { return m_Session; }

protected:
    std::string ConsoleTitle() const override;

private:
    // Takes the turn of a start or stop (false: a handler's call during a
    // stop, which does not wait for it); EndTurn gives it back.
    bool TakeTurn(bool stop);
    void EndTurn();
    bool OnHandlerThread();
    int StartListening();

    std::atomic<int> m_nStatus{1};
    std::atomic<int> m_bStarted{0};
    std::atomic<int> m_nPort{0};
    mutable std::mutex m_settingsLock;
    char m_szConfigPath[1024] = {0};  // guarded by m_settingsLock
    ServerSettings m_settings;        // guarded by m_settingsLock
    std::mutex m_turnLock;
    std::condition_variable m_turnFree;
    bool m_bTurnTaken = false;  // guarded by m_turnLock
    bool m_bStopping = false;   // guarded by m_turnLock: the turn is a stop's
    CReceiveQueue m_queue;
    std::unique_ptr<CHostEvents> m_service;
    std::atomic<CHostEvents*> m_pService{nullptr};
    OSSL m_Tls;
    CServerClient m_Session{this};  // last: destroyed first, while the rest still stands
};
