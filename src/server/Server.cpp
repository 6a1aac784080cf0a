#include "server/Server.h"

#include <cstring>

#include "common/XStringTools.h"
#include "platform/IniFile.h"

void CServer::SetConfigPath(const char* path) {
    if (!path) return;
    std::memset(m_szConfigPath, 0, sizeof m_szConfigPath);
    std::strncat(m_szConfigPath, path, sizeof m_szConfigPath - 1);
}

void CServer::ReadConfig(int index) {
    stringx section;
    StringFormat(section, "TcpServerSession-%d", index);
    const char* s = section.c_str();
    char ip[256] = {0};
    platform::GetPrivateProfileStringA(s, "ip", "", ip, sizeof ip, m_szConfigPath);
    m_strValidIp = ip;
    m_nPort = platform::GetPrivateProfileIntA(s, "port", 0, m_szConfigPath);
    m_console.m_nTraceConsole = platform::GetPrivateProfileIntA(s, "TraceConsole", 0, m_szConfigPath);
    m_nMaskLog = platform::GetPrivateProfileIntA(s, "MaskLog", 1, m_szConfigPath);
}

int CServer::StartServer() { return 0; }

void CServer::StopServer() {
    WriteLog("Close DisConnect.%d\r\n", m_nPort.load());
    m_nStatus = 1;
}

int CServer::WaitDataBlock(_DATA_BLOCK* out, unsigned long timeoutMs) {
    return m_queue.WaitDataBlock(out, timeoutMs, m_nStatus == 1);
}

int CServer::SendData(const void* /*data*/, int /*len*/, const void* /*logText*/, int /*logLen*/) {
    WriteLogEx(kTraceTransmit, "%s\r\n", "client socket is close.");
    return -1;
}

std::string CServer::ConsoleTitle() const {
    stringx title;
    return StringFormat(title, "Server(Port:%d)", m_nPort.load());
}
