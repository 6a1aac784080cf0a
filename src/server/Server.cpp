#include "server/Server.h"

#include <cstdarg>

#include "common/ConnectionOptions.h"
#include "common/PathText.h"
#include "common/WholeWrite.h"
#include "common/XStringTools.h"
#include "common/HostNotify.h"
#include "platform/Sockets.h"
#include "platform/Time.h"

namespace {
constexpr int kCreateAttempts = 4;
constexpr uint32_t kCreateRetryMs = 1000;
}  // namespace

CServer::CServer() = default;

CServer::~CServer() {
    // No accept may run while the members go; then the session ends its threads.
    m_SocketWnd.DestroySocketWindow();
    m_Session.Shutdown();
    CWebSocket::Close();
}

void CServer::WriteLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(kTraceEvent, format, args);
    va_end(args);
}

void CServer::WriteLogEx(int direction, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(direction, format, args);
    va_end(args);
}

void CServer::SetService(std::unique_ptr<CHostEvents> service) {
    m_service = std::move(service);
    m_pService = m_service.get();
    m_Session.SetService(m_pService);
}

void CServer::SetConfigPath(const char* path) {
    if (!path) return;
    std::lock_guard<std::mutex> lock(m_settingsLock);
    CopyPath(m_szConfigPath, sizeof m_szConfigPath, path);
}

std::string CServer::ConfigPath() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_szConfigPath;
}

void CServer::ReadConfig(int index) {
    ServerSettings s;
    ReadServerSettings(ConfigPath().c_str(), index, &s);
    {
        std::lock_guard<std::mutex> lock(m_settingsLock);
        m_settings = s;
    }
    m_nPort = s.port;
    m_nMaskLog = s.MaskLog;
    m_nTraceEscapes = s.safeguards.TraceEscapes;
    m_queue.SetByteLimit(QueueByteLimit(s.safeguards), [this](const std::string& line) { WriteLog("%s", line.c_str()); });
    m_console.m_nTraceConsole = s.TraceConsole;
    m_Session.SetRecvDataDelayTimeOut(s.RecvDataDelayTimeOut);
    m_Session.SetSendStallLimit(SendStallLimitMs(s.SndRcvTimeout));
    m_Session.SetSplitReads(s.SplitReads);
    m_Session.SetCloseOnPartialSend(s.safeguards.CloseOnPartialSend != 0);
    m_Session.SetStrict(s.WebsocketStrict);
    m_Session.SetTraceEscapes(s.safeguards.TraceEscapes);
    m_Session.SetWebsocket(s.IsWebsocket);
    m_Session.SetUTF8TextData(s.IsUTF8TextData);
    m_Session.SetUTF8TextCodePage(s.UTF8TextCodePage);
}

ServerSettings CServer::GetSettings() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_settings;
}

FramingSettings CServer::GetFramingSettings() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    FramingSettings f;
    f.netHeader = m_settings.netheader;
    f.headerIncluded = m_settings.HeaderIncluded;
    f.recvDataDelayTimeOut = m_settings.RecvDataDelayTimeOut;
    f.cleanFraming = m_settings.safeguards.CleanFraming != 0;
    return f;  // the server has no end marker
}

bool CServer::OnHandlerThread() { return m_SocketWnd.IsNotificationThread() || m_Session.IsReaderThread(); }

bool CServer::TakeTurn(bool stop) {
    const bool handler = OnHandlerThread();
    std::unique_lock<std::mutex> lock(m_turnLock);
    m_turnFree.wait(lock, [&] { return !m_bTurnTaken || (handler && m_bStopping); });
    if (m_bTurnTaken) return false;
    m_bTurnTaken = true;
    m_bStopping = stop;
    return true;
}

void CServer::EndTurn() {
    {
        std::lock_guard<std::mutex> lock(m_turnLock);
        m_bTurnTaken = false;
        m_bStopping = false;
    }
    m_turnFree.notify_all();
}

int CServer::StartServer() {
    if (!TakeTurn(false)) return 0;
    const int started = StartListening();
    EndTurn();
    return started;
}

int CServer::StartListening() {
    if (m_bStarted == 1) return 1;
    m_queue.AllowWaits();
    Close();
    m_Tls.SetServerOwner(this);
    const int stall = GetSettings().SndRcvTimeout;
    m_Tls.SetSendStallLimit(SendStallLimitMs(stall));
    m_Tls.iLoadParameters(ConfigPath().c_str(), 0);
    if (UsesTls() && !OSSL::kAvailable) return 0;
    if (!CreateServerSocket()) return 0;
    const int port = m_nPort;
    if (!Listen(1)) {
        WriteLog("Listen Fail, ServerPort=%d, LastError=%d", port, GetSocketError());
        return 0;
    }
    if (!AsyncSelect(platform::kFdAccept | platform::kFdRead | platform::kFdConnect | platform::kFdClose)) {
        WriteLog("AsyncSelect Fail, ServerPort=%d, LastError=%d", port, GetSocketError());
        return 0;
    }
    WriteLog("Start Server Success, ServerPort=%d", port);
    m_bStarted = 1;
    return 1;
}

int CServer::CreateServerSocket() {
    CWebSocket::Close();
    const int port = m_nPort;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        if (Create(static_cast<unsigned>(port), nullptr, 1, platform::kFdAllEvents, 1)) {
            WriteLog("Create Socket Success. ServerPort=%d, LastError=%d", port, GetSocketError());
            return 1;
        }
        WriteLog("Create Socket Fail.ServerPort=%d, LastError=%d", port, GetSocketError());
        platform::Sleep(kCreateRetryMs);
    }
    return 0;
}

void CServer::OnAccept(int error) {
    WriteLog("OnAccept(%d)", error);
    platform::SOCKADDR_IN4 address{};
    int length = sizeof address;
    platform::SOCKET s = Accept(&address, &length);
    if (s == platform::kInvalidSocket) return;
    const std::string peer = platform::inet_ntoa(address.sin_addr);
    const int peerPort = platform::NetworkToHost16(address.sin_port);
    WriteLog("New connection %s:%d\r\n", peer.c_str(), peerPort);

    // A refused peer changes nothing: it is closed before any TLS work,
    // which would take the one TLS object from the current peer.
    const ServerSettings settings = GetSettings();
    if (!settings.ip.empty() && settings.ip != peer) {
        platform::shutdown(s, platform::kSdSend);
        platform::closesocket(s);
        WriteLog("Invalid IP connection %s:%d. Valid IP(%s)\r\n", peer.c_str(), peerPort, settings.ip.c_str());
        return;
    }
    ApplyConnectionOptions(s, ConnectionOptions{settings.SndRcvTimeout, settings.EnableKeepAlive,
                                                settings.KeepAliveTimes, settings.KeepAliveInterval});
    // The previous peer's writes end (they fail) and its TLS connection is
    // released before the TLS object starts the new peer's handshake.
    m_Session.TakeOver(s);
    const bool tls = UsesTls() != 0;
    if (tls) m_Tls.iSSLAccept(s, ConfigPath().c_str());
    m_nStatus = 0;
    // The host hears of the connection before any of its messages: reading
    // starts only afterwards.
    if (CHostEvents* service = m_pService.load()) service->OnConnect(0);
    NotifyHostWindow(GetHostWnd(), kHostConnected);
    m_Session.BeginReading(s, tls);
}

void CServer::OnClose(int error) {
    WriteLog("OnClose(%03d):(%03d):", error, GetSocketError());
    m_nStatus = 1;
    if (CHostEvents* service = m_pService.load()) service->OnClose(error);
    NotifyHostWindow(GetHostWnd(), kHostClosed);
}

void CServer::Close() {
    if (GetSocketHandle() == platform::kInvalidSocket) return;
    ShutDown(platform::kSdSend);
    CWebSocket::Close();
    m_nStatus = 1;
    m_bStarted = 0;
}

void CServer::StopServer() {
    if (!TakeTurn(true)) return;
    WriteLog("Close DisConnect.%d\r\n", m_nPort.load());
    if (GetSettings().safeguards.StopWakesRecvData != 0) m_queue.EndWaits();
    // The listening socket goes first, and an accept under way finishes,
    // so that no new peer takes the session once it is closed.
    Close();
    m_bStarted = 0;  // also when a failed start left no socket open
    m_SocketWnd.WaitForHandlers(platform::kInfinite);
    m_Session.Shutdown();
    m_nStatus = 1;
    EndTurn();
}

int CServer::SendData(const void* data, int len, const void* logText, int logLen) {
    if (m_Session.GetSocketHandle() == platform::kInvalidSocket) {
        WriteLogEx(kTraceTransmit, "%s\r\n", "client socket is close.");
        return -1;
    }
    return m_Session.SendFramed(data, len, logText, logLen);
}

std::string CServer::ConsoleTitle() const {
    stringx title;
    return StringFormat(title, "Server(Port:%d)", m_nPort.load());
}
