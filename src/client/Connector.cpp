#include "client/Connector.h"

#include "framing/DataBlockOps.h"
#include "framing/ReceiveTrace.h"
#include "common/HostNotify.h"
#include "common/SessionReads.h"

namespace {
constexpr uint32_t kReconnectPauseMs = 200;
constexpr int kShutdownBoth = 2;
}  // namespace

CConnector::CConnector()
    : m_assembler(this, MessageDelivery{
                            [this](const unsigned char* data, int length, int error) {
                                if (CHostEvents* service = m_pService.load())
                                    service->OnReceive(data, static_cast<unsigned long>(length), error);
                            },
                            [this](const _DATA_BLOCK& message) { PushDataBlock(message); }}) {
    m_ReadBlock.Clear();
    m_assembler.SetQueueBytes([this](const unsigned char* data, uint32_t length) { m_queue.PushBytes(data, length); });
}

CConnector::~CConnector() {
    // A host that forgot to stop must not be left with a thread that runs on
    // a destroyed object.
    if (m_bSessionStarted) StopSession();
    Stop(platform::kInfinite);  // waits for a session that stopped itself to return
    m_SocketWnd.DestroySocketWindow();
}

int CConnector::Start(unsigned flags, unsigned stackSize, void* security) {
    std::lock_guard<std::mutex> lock(m_startLock);
    // A session stopped from inside its own notification may still be returning.
    if (!m_bSessionStarted) Stop(platform::kInfinite);
    SetExitFlag(0);
    m_queue.AllowWaits();
    std::string ip;
    int port = 0;
    CurrentHost(&ip, &port);
    if (ip.empty() || port == 0) return -1;
    if (UsesTls() && !OSSL::kAvailable) return -1;
    // A thread that was started but has not run its first step yet counts as running.
    if (IsRunning() || m_bSessionStarted) return 0;
    m_bSessionStarted = true;
    XThread::Start(flags, stackSize, security);
    return 0;
}

void CConnector::StopSession() {
    std::string ip;
    int port = 0;
    CurrentHost(&ip, &port);
    WriteLog("Close connection.%s:%d\r\n", ip.c_str(), GetSettings().cport);
    SetExitFlag(1);
    if (GetSettings().safeguards.StopWakesRecvData != 0) m_queue.EndWaits();
    m_hConnectEvent.Set();
    // A handshake blocks in the socket; ending the connection ends it.
    if (m_bHandshaking) ShutDown(kShutdownBoth);
    {
        // Every wait of the session thread ends at the exit flag, so only a
        // host notification running on it can hold this up, and the host may
        // destroy the service object as soon as this returns.
        std::lock_guard<std::mutex> lock(m_startLock);
        Stop(platform::kInfinite);
        m_bSessionStarted = false;
    }
    m_nStatus = 1;
    Close();
    // Likewise for a handler of the closed connection still running.
    m_SocketWnd.WaitForHandlers(platform::kInfinite);
}

void CConnector::OnConnectionMade() {
    m_bNewConnection = true;
    if (IsExit()) return;  // a handshake cut short by a stop
    if (CHostEvents* service = m_pService.load()) service->OnConnect(0);
    NotifyHostWindow(GetHostWnd(), kHostConnected);
}

int CConnector::Run() {
    m_hConnectEvent.Reset();
    CreateClientSocket();
    int failReported = 0;
    while (!IsExit()) {
        while (!IsExit()) {
            if (ConnectToServer(&failReported) == 1) break;  // the host has been told
        }
        if (IsExit()) break;
        failReported = 0;
        WaitDataOrConnectEvent();
        if (IsExit()) break;
        if (m_bClosed == 1) {
            Close();
            CreateClientSocket();
            PauseUnlessExit(kReconnectPauseMs);
        }
    }
    Close();
    return 0;
}

void CConnector::WaitDataOrConnectEvent() {
    if (UsesTls() && m_nTlsReadMode != 1) {
        int selected = AsyncSelect(platform::kFdConnect | platform::kFdClose);
        WriteLog("WaitDataOrConnectEvent AsyncSelect(%03d)", selected);
        while (!m_hConnectEvent.Wait(kTlsPollMs)) {
            // A reader on the notification thread (events may still have been
            // selected) may be in a host notification that stops the session:
            // then this round is skipped rather than waited for.
            std::unique_lock<std::mutex> lock(m_receiveLock, std::try_to_lock);
            if (lock.owns_lock()) ReadAndAssemble(0);
        }
        return;
    }
    WriteLog("%s", "Wait Data Event From Windows. WaitForSingleObject (m_hConnectEvent, INFINITE). ");
    m_hConnectEvent.Wait(platform::kInfinite);
}

void CConnector::OnAccept(int error) { WriteLog("OnAccept(%03d)", error); }

void CConnector::OnConnect(int error) {
    WriteLog("OnConnect(%03d", error);
    m_nStatus = 0;
}

void CConnector::OnClose(int error) {
    WriteLog("OnClose(%03d):(%03d):", error, GetSocketError());
    if (UsesTls()) m_Tls.CloseSSL();
    m_nStatus = 1;
    m_bClosed = 1;
    if (CHostEvents* service = m_pService.load()) service->OnClose(error);
    NotifyHostWindow(GetHostWnd(), kHostClosed);
    m_hConnectEvent.Set();
}

void CConnector::OnReceive(int error) {
    std::lock_guard<std::mutex> lock(m_receiveLock);
    ReadAndAssemble(error);
}

void CConnector::ReadAndAssemble(int error) {
    ClearDataBlock(&m_ReadBlock);
    const bool tls = UsesTls();
    int n = tls ? m_Tls.iSSLReceive(m_ReadBlock.data, kSessionReadBytes) : Receive(m_ReadBlock.data, kSessionReadBytes, 0);
    if (n <= 0) {
        if (!tls) WriteReadFailedTrace(*this, error, n, GetSocketError());
        return;
    }
    m_ReadBlock.length = static_cast<uint32_t>(n);
    WriteReadTrace(*this, error, m_ReadBlock, n);
    CReceiveQueue::WakeBatch batch(m_queue);  // the read's messages wake RecvData once
    const FramingSettings framing = GetFramingSettings();
    if (m_bNewConnection.exchange(false) && framing.cleanFraming) m_assembler.DiscardForNewConnection();
    m_assembler.OnSessionRead(m_ReadBlock.data, n, error, framing);
}
