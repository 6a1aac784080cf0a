#include "client/ConnectClient.h"

#include "common/ConnectionOptions.h"
#include "common/PartialSend.h"
#include "common/PathText.h"
#include "common/WholeWrite.h"
#include "common/XStringTools.h"
#include "platform/SocketWait.h"
#include "platform/Sockets.h"
#include "platform/Time.h"

namespace {
constexpr uint32_t kAttemptSpacingMs = 100;
}  // namespace

CConnectClient::CConnectClient() = default;

CConnectClient::~CConnectClient() {
    // No handler may run while the members below are destroyed.
    m_SocketWnd.DestroySocketWindow();
    Close();
}

void CConnectClient::SetConfigPath(const char* path) {
    if (path) CopyPath(m_szConfigPath, sizeof m_szConfigPath, path);
}

ClientSettings CConnectClient::GetSettings() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_settings;
}

FramingSettings CConnectClient::GetFramingSettings() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_framing;
}

void CConnectClient::CurrentHost(std::string* ip, int* port) const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    *ip = m_settings.ip;
    *port = m_settings.port;
}

std::string CConnectClient::ConsoleTitle() const {
    std::string ip;
    int port = 0;
    CurrentHost(&ip, &port);
    stringx title;
    return StringFormat(title, "Client(%s:%d)", ip.c_str(), port);
}

void CConnectClient::SetExitFlag(int value) {
    m_exitLock.Lock();
    m_bExit = value;
    if (value) m_exitEvent.Set(); else m_exitEvent.Reset();
    m_exitLock.Unlock();
    if (value) {
        AbortBlockingCall();  // a connect that hangs must not hold up the stop
        WriteLog("%s", "SetExitFlag TRUE EXIT");
    } else {
        ClearAbort();
    }
}

int CConnectClient::IsExit() {
    m_exitLock.Lock();
    int value = m_bExit;
    m_exitLock.Unlock();
    return value;
}

bool CConnectClient::PauseUnlessExit(uint32_t ms) { return !m_exitEvent.Wait(ms); }

void CConnectClient::SelectNextHost() {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    if (m_settings.AutoConnectOtherServer == 0 || m_settings.hosts.empty()) return;
    if (m_nHostIndex >= m_settings.hosts.size()) m_nHostIndex = 0;
    const _HOST_INFO_& host = m_settings.hosts[m_nHostIndex++];
    m_settings.ip = host.ip;
    m_settings.port = host.port;
}

int CConnectClient::TryCreate(unsigned port) { return Create(port, nullptr, 1, platform::kFdAllEvents, 1); }

int CConnectClient::CreateClientSocket() {
    Close();
    const int cport = GetSettings().cport;
    if (TryCreate(static_cast<unsigned>(cport))) {
        WriteLog("Create Socket Success. ClientPort=%d, LastError=%d", cport, GetSocketError());
        SetSocketOptions();
        return 1;
    }
    WriteLog("Create Socket Fail.ClientPort=%d, LastError=%d", cport, GetSocketError());
    PauseUnlessExit(1000);
    if (!TryCreate(0)) {
        WriteLog("Create Socket Fail.ClientPort=%d, LastError=%d", 0, GetSocketError());
        PauseUnlessExit(1000);
        while (!IsExit()) {
            if (TryCreate(static_cast<unsigned>(cport))) break;
            WriteLog("Create Socket Fail.ClientPort=%d, LastError=%d", 0, GetSocketError());
            PauseUnlessExit(1000);
        }
    }
    const bool created = GetSocketHandle() != platform::kInvalidSocket;
    if (created) WriteLog("Create Socket Success. ClientPort=%d, LastError=%d", cport, GetSocketError());
    SetSocketOptions();
    return created ? 1 : 0;
}

void CConnectClient::SetSocketOptions() {
    ClientSettings s = GetSettings();
    ApplyConnectionOptions(GetSocketHandle(),
                           ConnectionOptions{s.SndRcvTimeout, s.EnableKeepAlive, s.KeepAliveTimes, s.KeepAliveInterval});
}

uint32_t CConnectClient::CyclePause(const ClientSettings& s) {
    uint32_t pause = s.ReconnInterval > 0 ? static_cast<uint32_t>(s.ReconnInterval) : 0;
    // A cycle without attempts pauses at least as long as one attempt would
    // have, so that no setting makes the session thread spin.
    if (s.ConnectContinues <= 0 && pause < kAttemptSpacingMs) pause = kAttemptSpacingMs;
    return pause;
}

int CConnectClient::ConnectToServer(int* pbFailReported) {
    SelectNextHost();
    const int cport = GetSettings().cport;
    if (!SetBlocking()) WriteLog("SetBlocking.ClientPort=%d, LastError=%d", cport, GetSocketError());

    bool connected = false;
    uint32_t t0 = platform::GetTickCount();
    bool reminder = false;
    std::string ip;
    int port = 0;
    for (;;) {
        if (IsExit()) break;
        const ClientSettings s = GetSettings();
        CurrentHost(&ip, &port);
        for (int attempt = 0; attempt < s.ConnectContinues && !IsExit(); ++attempt) {
            if (Connect(ip.c_str(), static_cast<unsigned>(port))) {
                if (UsesTls()) {
                    m_bHandshaking = true;
                    const int shaken = IsExit() ? 0 : m_Tls.iSSLConnect(GetSocketHandle(), m_szConfigPath);
                    m_bHandshaking = false;
                    WriteLog("%s", shaken ? "SSL Connect Success." : "SSL Connect Failed.");
                }
                connected = true;
                break;
            }
            const int error = GetSocketError();
            const uint32_t now = platform::GetTickCount();
            if ((now - t0) / 1000u >= 30u) {
                reminder = true;
                t0 = now;
            }
            if (*pbFailReported == 0 || reminder) {
                WriteLog("Connect Fail.%s:%d, LastError=%d", ip.c_str(), port, error);
                WriteLog("%s", "ReConnect......");
                *pbFailReported = 1;
                reminder = false;
            }
            PauseUnlessExit(kAttemptSpacingMs);
        }
        if (connected) {
            m_nStatus = 0;
            WriteLog("Connect OK.%s:%d, LastError=%d", ip.c_str(), port, GetSocketError());
            // Told before the socket's events are switched on, so that the
            // connection's messages and close reach the host after it.
            OnConnectionMade();
            break;
        }
        if (IsExit()) break;
        PauseUnlessExit(CyclePause(s));
        SelectNextHost();
    }
    // A stop from inside the host's notification has closed the socket already.
    if (GetSocketHandle() != platform::kInvalidSocket && !CancelBlock())
        WriteLog("CancelBlock Fail.%s:%d, LastError=%d", ip.c_str(), port, GetSocketError());
    return connected ? 1 : 0;
}

void CConnectClient::Close() {
    if (GetSocketHandle() == platform::kInvalidSocket) return;
    if (UsesTls()) m_Tls.CloseSSL();
    m_nStatus = 1;
    SetBlocking();
    ShutDown(1);
    CAsyncSocketEx::Close();
    WriteLog("CloseSocket Socket ClientPort=%d, LastError=%d", GetSettings().cport, GetSocketError());
}

int CConnectClient::ReadConfig(int n) {
    {
        std::lock_guard<std::mutex> lock(m_settingsLock);
        ReadClientSettings(m_szConfigPath, n, &m_settings);
        m_nMaskLog = m_settings.MaskLog;
        m_console.m_nTraceConsole = m_settings.TraceConsole;
        m_framing.netHeader = m_settings.netheader;
        m_framing.headerIncluded = m_settings.HeaderIncluded;
        m_framing.recvDataDelayTimeOut = m_settings.RecvDataDelayTimeOut;
        m_framing.endMarker = m_settings.MsgEndData;
        m_framing.cleanFraming = m_settings.safeguards.CleanFraming != 0;
        m_nTraceEscapes = m_settings.safeguards.TraceEscapes;
        m_bCloseOnPartialSend = m_settings.safeguards.CloseOnPartialSend != 0;
    }
    m_queue.SetByteLimit(QueueByteLimit(GetSettings().safeguards),
                         [this](const std::string& line) { WriteLog("%s", line.c_str()); });
    // Checked outside the lock: a refused marker writes a trace line.
    std::string marker = ValidateEndMarker(GetFramingSettings().endMarker, this);
    {
        std::lock_guard<std::mutex> lock(m_settingsLock);
        m_framing.endMarker = marker;
    }
    m_Tls.SetClientOwner(this);
    m_Tls.SetSendStallLimit(SendStallLimit());
    return m_Tls.iLoadParameters(m_szConfigPath, 1);
}

int CConnectClient::SendFramed(const void* data, int len, const void* logText, int logLen) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    return m_sender.SendFramed(
        GetFramingSettings(), m_nMaskLog, data, len, logText, logLen,
        [this](const unsigned char* framed, int framedLen) {
            const int written = WriteWhole(framed, framedLen);
            if (written == framedLen || !m_bCloseOnPartialSend || m_nStatus != 0) return written;
            return CloseAfterPartialSend(*this, *this, written, framedLen);
        },
        [] { return GetSocketError(); });
}

uint32_t CConnectClient::SendStallLimit() const {
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return SendStallLimitMs(m_settings.SndRcvTimeout);
}

int CConnectClient::WriteWhole(const unsigned char* data, int len) {
    if (UsesTls()) return m_Tls.iSSLSend(data, len);  // waits for room itself
    return ::WriteWhole(*this, data, len, SendStallLimit(), [this] { return IsExit() != 0; });
}
