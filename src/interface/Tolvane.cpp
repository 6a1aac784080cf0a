#include "interface/Tolvane.h"

#include <cstring>

#include "client/Connector.h"
#include "common/ModuleDir.h"
#include "common/PathText.h"
#include "interface/ServiceEvents.h"
#include "platform/HostWindow.h"
#include "server/Server.h"

namespace {
constexpr unsigned long kCmdLogScramble = 1;
constexpr unsigned long kCmdSwitchMode = 2;
constexpr unsigned long kCmdRecvDataType = 3;
constexpr unsigned long kCmdTlsReadMode = 4;
}  // namespace

CITolvane::CITolvane() : m_pClient(nullptr), m_pServer(nullptr), m_nMode(0), m_nSessionIndex(0) {
    m_pClient = new CConnector();
    m_pServer = new CServer();
    m_pClient->SetService(std::make_unique<CServiceEvents>(this));
    m_pServer->SetService(std::make_unique<CServiceEvents>(this));
    std::memset(m_szConfigPath, 0, sizeof m_szConfigPath);
    std::memset(m_szConfigDir, 0, sizeof m_szConfigDir);
    GetModuleDir(sizeof m_szConfigDir - 1, m_szConfigDir);
    SetConfigDir(std::string(m_szConfigDir).c_str());
}

CITolvane::~CITolvane() {
    delete m_pClient;
    delete m_pServer;
}

int CITolvane::StartTolvane(int mode, int sessionIndex) {
    m_nMode = mode;
    m_nSessionIndex = sessionIndex;
    if (mode != 0) {
        m_pServer->SetConfigPath(m_szConfigPath);
        ReadConfig();
        return m_pServer->StartServer() ? 0 : -1;
    }
    m_pClient->SetConfigPath(m_szConfigPath);
    ReadConfig();
    return m_pClient->Start();
}

int CITolvane::StopTolvane() {
    if (m_nMode != 0) m_pServer->StopServer(); else m_pClient->StopSession();
    return 0;
}

int CITolvane::SendData(const void* data, int len, unsigned long /*reserved*/, const void* logText, int logLen) {
    if (m_nMode != 0) return m_pServer->SendData(data, len, logText, logLen);
    if (!data) return -1;
    return m_pClient->SendFramed(data, len, logText, logLen);
}

int CITolvane::RecvData(unsigned char* buf, int* len, unsigned long timeoutMs) {
    if (!buf || !len) return -1;
    return m_nMode != 0 ? m_pServer->RecvData(buf, len, timeoutMs) : m_pClient->RecvData(buf, len, timeoutMs);
}

int CITolvane::ExecuteCMD(unsigned long cmd, void*, unsigned long value, void*, void**, int) {
    switch (cmd) {
        case kCmdLogScramble:
            m_pClient->SetLogScramble(static_cast<int>(value));
            m_pServer->SetLogScramble(static_cast<int>(value));
            return 0;
        case kCmdSwitchMode:
            m_nMode = static_cast<int>(value);
            return 0;
        case kCmdRecvDataType:
            return SetRecvDataType(static_cast<int>(value));
        case kCmdTlsReadMode:
            m_pClient->SetTlsReadMode(static_cast<int>(value));
            return 0;
        default:
            return 0;
    }
}

int CITolvane::GetNetworkStatus() {
    return m_nMode != 0 ? m_pServer->GetNetworkStatus() : m_pClient->GetNetworkStatus();
}

int CITolvane::SetRecvDataType(int type) {
    return m_nMode != 0 ? m_pServer->SetRecvDataType(type) : m_pClient->SetRecvDataType(type);
}

void CITolvane::SetConfigDir(const char* dir) {
    if (!dir) return;
    std::string folder = WithTrailingSeparator(dir, sizeof m_szConfigDir - 1);
    std::memset(m_szConfigDir, 0, sizeof m_szConfigDir);
    std::memcpy(m_szConfigDir, folder.data(), folder.size());
    CopyPath(m_szConfigPath, sizeof m_szConfigPath, folder + "NetWork.ini");
}

void CITolvane::SetConfigPathName(const char* path) {
    if (!path) return;
    CopyPath(m_szConfigPath, sizeof m_szConfigPath, path);
}

void CITolvane::SetLogPath(const char* dir) {
    if (!dir) return;
    std::string folder = WithTrailingSeparator(dir, 1023);
    m_pClient->SetLogPath(folder.c_str());
    m_pServer->SetLogPath(folder.c_str());
}

void CITolvane::SetLogName(const char* name) {
    m_pClient->SetLogName(name);
    m_pServer->SetLogName(name);
}

void CITolvane::Log(const char* text) {
    if (!text) return;
    if (m_nMode != 0) m_pServer->WriteLogRecord(kTraceEvent, text);
    else m_pClient->WriteLogRecord(kTraceEvent, text);
}

void CITolvane::OnConnect(int) {}
void CITolvane::OnClose(int) {}
void CITolvane::OnReceive(const unsigned char*, unsigned long, int) {}

void CITolvane::ReadConfig() {
    if (m_nMode != 0) m_pServer->ReadConfig(m_nSessionIndex);
    else m_pClient->ReadConfig(m_nSessionIndex);
}

#ifdef TOLVANE_HAS_HOST_WINDOW_PROC
void SetHostWindowProc(TolvaneWindowProc proc) { platform::SetWindowProc(proc); }
#endif
