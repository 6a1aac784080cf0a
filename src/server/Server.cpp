#include "server/Server.h"


#include "common/PathText.h"
#include "common/XStringTools.h"
#include "platform/IniFile.h"

void CServer::SetConfigPath(const char* path) {
    if (path) CopyPath(m_szConfigPath, sizeof m_szConfigPath, path);
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

int CServer::SendData(const void* /*data*/, int /*len*/, const void* /*logText*/, int /*logLen*/) {
    WriteLogEx(kTraceTransmit, "%s\r\n", "client socket is close.");
    return -1;
}

std::string CServer::ConsoleTitle() const {
    stringx title;
    return StringFormat(title, "Server(Port:%d)", m_nPort.load());
}
