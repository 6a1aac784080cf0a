#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/AsyncSocketEx.h"
#include "common/DataBlock.h"
#include "common/ReceiveQueue.h"
#include "common/XThread.h"
#include "framing/FramedSender.h"
#include "framing/FramingSettings.h"
#include "config/ClientConfig.h"
#include "log/TraceLog.h"
#include "platform/Event.h"
#include "tls/OSSL.h"

// The client's socket object: holds the client settings, creates and
// configures the socket, connects to the configured host (or cycles through
// the host list), closes, and carries the exit flag, the receive queue and
// the trace log that the session uses. Its connect loop runs on the session
// thread; its event handlers run on the socket's notification thread.
class CConnectClient : public CAsyncSocketEx, public CTraceLog {
public:
    CConnectClient();
    ~CConnectClient() override;

    void Close() override;

    // Nonzero when a socket exists afterwards, 0 only when the exit flag
    // ended the retries.
    virtual int CreateClientSocket();
    // 1 when connected, 0 when the exit flag ended the loop.
    virtual int ConnectToServer(int* pbFailReported);
    // Called by ConnectToServer once connected, before the socket's events
    // are selected again.
    virtual void OnConnectionMade() {}

    int ReadConfig(int n);
    void SetConfigPath(const char* path);
    const char* GetConfigPath() const { return m_szConfigPath; }

    void SetExitFlag(int value);
    int IsExit();
    int GetNetworkStatus() const { return m_nStatus; }

    // Frames and sends one message; bytes written or -1.
    int SendFramed(const void* data, int len, const void* logText, int logLen);

    int SetRecvDataType(int type) { return m_queue.SetRecvDataType(type); }
    void PushDataBlock(const _DATA_BLOCK& block) { m_queue.PushDataBlock(block); }

    // Copy of the settings read last (the current host included).
    ClientSettings GetSettings() const;
    FramingSettings GetFramingSettings() const;

protected:
    std::string ConsoleTitle() const override;
    void SelectNextHost();
    void SetSocketOptions();
    // Waits `ms` unless the exit flag is set meanwhile; false when it was.
    bool PauseUnlessExit(uint32_t ms);
    // The current host's address and port.
    void CurrentHost(std::string* ip, int* port) const;
    int UsesTls() { return m_Tls.IsUseSSL(); }

    OSSL m_Tls;
    std::atomic<int> m_nStatus{1};
    platform::Event m_hConnectEvent{false, false};
    CReceiveQueue m_queue;
    std::atomic<bool> m_bHandshaking{false};  // the session thread is in a TLS handshake

private:
    int TryCreate(unsigned port);
    // Writes all `len` bytes, waiting for room while the socket is full (at
    // most the send time-out); the bytes written, or -1.
    int WriteWhole(const unsigned char* data, int len);
    uint32_t SendStallLimit() const;
    static uint32_t CyclePause(const ClientSettings& s);

    mutable std::mutex m_settingsLock;
    ClientSettings m_settings;
    size_t m_nHostIndex = 0;

    CSafeCriticalSection m_exitLock;
    int m_bExit = 0;
    platform::Event m_exitEvent{true, false};  // set while the exit flag is; cuts pauses short

    char m_szConfigPath[1024] = {0};

    FramingSettings m_framing;  // guarded by m_settingsLock
    std::atomic<bool> m_bCloseOnPartialSend{false};  // "CloseOnPartialSend"

    std::mutex m_sendLock;  // host threads send one at a time
    CFramedSender m_sender{this};
};
