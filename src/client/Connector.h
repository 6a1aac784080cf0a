#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "client/ConnectClient.h"
#include "framing/MessageAssembler.h"
#include "common/HostEvents.h"
#include "common/XThread.h"

// The running client: its session thread creates the socket, connects,
// tells the host, waits until the connection is lost or the session is
// stopped, and connects again. Received data are assembled into messages
// on the socket's notification thread (or, with TLS polling, on the session
// thread) and queued for the host.
class CConnector : public CConnectClient, public XThread {
public:
    CConnector();
    ~CConnector() override;

    // -1 without address or port; 0 otherwise (also when already running).
    int Start(unsigned flags = 0, unsigned stackSize = 0, void* security = nullptr) override;
    int Run() override;
    void StopSession();

    void OnAccept(int error) override;
    void OnClose(int error) override;
    void OnConnect(int error) override;
    void OnReceive(int error) override;

    // Set once, before the session is started.
    void SetService(std::unique_ptr<CHostEvents> service) {
        m_service = std::move(service);
        m_pService = m_service.get();
    }
    void SetTlsReadMode(int mode) { m_nTlsReadMode = mode; }
    // The host's receive call: 0 and the oldest message, or -1.
    int RecvData(unsigned char* buf, int* len, unsigned long timeoutMs) {
        return m_queue.TakeMessage(buf, len, timeoutMs, m_nStatus == 1);
    }

private:
    void WaitDataOrConnectEvent();
    // One read and its messages; the caller holds m_receiveLock.
    void ReadAndAssemble(int error);
    void OnConnectionMade() override;

    std::atomic<int> m_bClosed{0};
    std::unique_ptr<CHostEvents> m_service;
    std::atomic<CHostEvents*> m_pService{nullptr};
    std::atomic<int> m_nTlsReadMode{0};
    std::atomic<bool> m_bSessionStarted{false};
    std::atomic<bool> m_bNewConnection{false};  // no read of the current connection assembled yet
    std::mutex m_startLock;
    std::mutex m_receiveLock;  // one reader at a time: notification thread or TLS polling
    _DATA_BLOCK m_ReadBlock;
    CMessageAssembler m_assembler;
};
