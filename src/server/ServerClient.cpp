#include "server/ServerClient.h"

#include <cstdarg>

#include "framing/DataBlockOps.h"
#include "framing/ReceiveTrace.h"
#include "common/PartialSend.h"
#include "common/SessionReads.h"
#include "common/WholeWrite.h"
#include "platform/Sockets.h"
#include "server/Server.h"

namespace {
constexpr int kTlsReadBytes = 102400;
// How long a new peer waits for the previous connection's reader to finish
// a host notification; past it the new peer goes ahead.
constexpr uint32_t kReplaceWaitMs = 5000;
}  // namespace

CServerClient::CServerClient(CServer* server)
    : m_pServer(server),
      m_assembler(server,
                  MessageDelivery{[this](const unsigned char* data, int length, int error) {
                                      if (CHostEvents* service = m_pService.load())
                                          service->OnReceive(data, static_cast<unsigned long>(length), error);
                                  },
                                  [this](const _DATA_BLOCK& message) { m_pServer->PushDataBlock(message); }},
                  false),
      m_sender(server) {
    m_assembler.SetQueueBytes(
        [this](const unsigned char* data, uint32_t length) { m_pServer->PushBytes(data, length); });
}

CServerClient::~CServerClient() {
    m_SocketWnd.DestroySocketWindow();
    XThread::Stop(platform::kInfinite);
    CAsyncSocketEx::Close();
}

void CServerClient::WriteLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_pServer->WriteLogV(kTraceEvent, format, args);
    va_end(args);
}

void CServerClient::WriteLogEx(int direction, const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_pServer->WriteLogV(direction, format, args);
    va_end(args);
}

int CServerClient::Send(const void* data, int length, int /*flags*/) {
    std::lock_guard<std::recursive_mutex> lock(m_writeLock);  // the socket stays this connection's meanwhile
    const int written = WriteConnection(data, length);
    if (written == length || !m_bCloseOnPartialSend) return written;
    return CloseAfterPartialSend(*m_pServer, *this, written, length);
}

int CServerClient::WriteConnection(const void* data, int length) {
    // A write waiting for room gives up once the connection closes.
    auto closing = [this] { return m_nClosesWaiting > 0 || GetSocketHandle() == platform::kInvalidSocket; };
    if (m_pServer->UsesTls()) return m_pServer->Tls().iSSLSend(data, length, closing);  // waits for room itself
    return WriteWhole(*this, static_cast<const unsigned char*>(data), length, m_nSendStallMs, closing);
}

void CServerClient::Close() { ReleaseSocket(DetachSocket()); }

platform::SOCKET CServerClient::DetachSocket() {
    const platform::SOCKET s = m_hSocket.exchange(platform::kInvalidSocket);
    if (s == platform::kInvalidSocket) return s;
    m_hStopEvent.Set();
    // The reader forgets the partial message and the WebSocket state of this
    // connection before it reads the next one (it may be busy right now).
    ++m_nConnection;
    return s;
}

void CServerClient::ReleaseSocket(platform::SOCKET s) {
    if (s == platform::kInvalidSocket) return;
    // A write in progress (waiting for room at most one slice more) ends
    // first, so that nothing is written after the close and the TLS
    // connection object is released only once no write uses it.
    ++m_nClosesWaiting;
    std::lock_guard<std::recursive_mutex> lock(m_writeLock);
    --m_nClosesWaiting;
    m_pServer->Tls().CloseSSLOf(s);
    platform::shutdown(s, platform::kSdSend);
    CloseDetached(s);
}

void CServerClient::EndConnection() {
    m_pServer->MarkPeerGone();
    Close();
}

void CServerClient::OnClose(int error) {
    WriteLog("OnClose(%03d):(%03d):", error, GetSocketError());
    m_hStopEvent.Set();
    m_pServer->MarkPeerGone();
    Close();
}

void CServerClient::WaitForReaders(uint32_t limitMs) {
    XThread::Stop(limitMs);
    m_SocketWnd.WaitForHandlers(limitMs);
}

void CServerClient::Disconnect(uint32_t limitMs) {
    // Taken out first, so that no handler starting now acts on this socket;
    // a reader inside a read of it returns at once. The descriptor is closed
    // only when no reader uses it any more, so that no read ever reaches a
    // number that already belongs to something else.
    const platform::SOCKET s = DetachSocket();
    if (s != platform::kInvalidSocket) platform::shutdown(s, platform::kSdBoth);
    WaitForReaders(limitMs);
    ReleaseSocket(s);
}

void CServerClient::TakeOver(platform::SOCKET s) {
    Disconnect(kReplaceWaitMs);
    // No reader is left: the new peer starts without the previous one's
    // handshake, also for the host's messages sent before its first read.
    ResetWebSocket();
    AttachConnection(s);
}

void CServerClient::BeginReading(platform::SOCKET s, bool tls) {
    if (GetSocketHandle() != s) return;  // stopped from the host's connect notification
    m_nPollConnection = m_nConnection.load();
    if (tls) XThread::Start();
    else AsyncSelect(platform::kFdRead | platform::kFdWrite | platform::kFdClose);
}

void CServerClient::Shutdown() { Disconnect(platform::kInfinite); }

int CServerClient::Run() {
    const uint64_t connection = m_nPollConnection;
    m_hStopEvent.Reset();
    int selected = AsyncSelect(platform::kFdConnect | platform::kFdClose);
    WriteLog("CServerClient Svc  AsyncSelect(%03d)", selected);
    while (m_nConnection == connection) {
        if (m_hStopEvent.Wait(kTlsPollMs)) return 0;
        OnReceive(0);
    }
    return 0;
}

void CServerClient::OnReceive(int error) {
    std::lock_guard<std::recursive_mutex> lock(m_receiveLock);
    const uint64_t connection = m_nConnection;
    if (connection != m_nReadConnection) {
        if (m_pServer->GetFramingSettings().cleanFraming) m_assembler.DiscardForNewConnection();
        else m_assembler.DropPending();
        ResetWebSocket();
        m_nReadConnection = connection;
    }
    ClearDataBlock(&m_RawBlock);
    const bool tls = m_pServer->UsesTls() != 0;
    std::string tlsFailure;
    const int n = tls ? m_pServer->Tls().iSSLReceive(m_RawBlock.data, kTlsReadBytes, &tlsFailure)
                      : CAsyncSocketEx::Receive(m_RawBlock.data, kSessionReadBytes, 0);
    if (n <= 0) {
        if (!tls) WriteReadFailedTrace(*m_pServer, error, n, GetSocketError());
        if (!tlsFailure.empty()) {
            // Nothing more can be read, and the unread bytes would hold back
            // the close: the connection ends as when the peer leaves.
            WriteLog("OnReceive. TLS Failed(%s). Connection Closed.", tlsFailure.c_str());
            EndConnection();
        }
        return;
    }
    m_RawBlock.length = static_cast<uint32_t>(n);
    if (!IsWebsocket()) WriteReadTrace(*m_pServer, error, m_RawBlock, n);
    CReceiveQueue::WakeBatch batch = m_pServer->BatchWakeUps();  // the read's messages wake RecvData once
    if (ProcessWSData(m_RawBlock.data, n)) return;
    FramingSettings framing = m_pServer->GetFramingSettings();
    framing.recvDataDelayTimeOut = m_nRecvDataDelayTimeOut;
    framing.cutAtEndByte = IsSplitReads() != 0;
    m_assembler.SetSplitReads(framing.cutAtEndByte);
    m_assembler.OnSessionRead(m_RawBlock.data, n, error, framing);
}

void CServerClient::OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block) {
    if (CHostEvents* service = m_pService.load()) service->OnReceive(data, static_cast<unsigned long>(length), 0);
    if (block && block->length != 0) m_pServer->PushDataBlock(*block);
}

int CServerClient::SendFramed(const void* data, int len, const void* logText, int logLen) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    FramingSettings framing = m_pServer->GetFramingSettings();
    // A strict WebSocket session sends messages of up to a block: the length
    // header, which never goes on the wire, must not take room from them.
    if (IsWebsocket() && IsStrict()) framing.netHeader = 0;
    // A WebSocket peer gets the host's bytes as they are, in one text frame.
    const bool websocket = IsWebsocket();
    return m_sender.SendFramed(
        framing, m_pServer->m_nMaskLog, data, len, logText, logLen,
        [this, websocket](const unsigned char* bytes, int n) {
            return websocket ? SendWSFrame(bytes, static_cast<unsigned>(n)) : Send(bytes, n, 0);
        },
        [] { return GetSocketError(); }, websocket);
}
