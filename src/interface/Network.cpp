#include "interface/Network.h"

#include <cstdlib>
#include <cstring>

#include "common/ModuleDir.h"
#include "common/XStringTools.h"
#include "common/PathText.h"

ONetwork::ONetwork() {
    std::memset(m_szConfigPath, 0, sizeof m_szConfigPath);
    CopyPath(m_szConfigPath, sizeof m_szConfigPath, PathInFolder(GetModuleDirString(259), "NetWork.ini"));
    m_client.SetConfigPath(m_szConfigPath);
    m_nMode = ReadNetworkMode(m_szConfigPath);
}

ONetwork::~ONetwork() { StopActiveSide(); }

void ONetwork::StopActiveSide() {
    if (m_nMode != 0) m_server.StopServer(); else m_client.StopSession();
}

int ONetwork::Start(int, int sessionIndex) {
    if (m_nMode != 0) {
        m_server.SetConfigPath(m_szConfigPath);
        m_server.ReadConfig(sessionIndex);
        return m_server.StartServer() ? 0 : -1;
    }
    m_client.SetConfigPath(m_szConfigPath);
    m_client.ReadConfig(sessionIndex);
    return m_client.Start();
}

int ONetwork::Stop(int, int) {
    StopActiveSide();
    return 0;
}

int ONetwork::Send(int, int, int, const void* data, int len, int) {
    if (m_nMode != 0) return m_server.SendData(data, len, nullptr, 0);
    return m_client.SendFramed(data, len, nullptr, 0);
}

int ONetwork::Recv(int, int, int, void* buf, int* len, unsigned long timeoutMs) {
    if (!buf || !len) return 1;
    unsigned char* out = static_cast<unsigned char*>(buf);
    int result = m_nMode != 0 ? m_server.RecvData(out, len, timeoutMs) : m_client.RecvData(out, len, timeoutMs);
    return result == 0 ? 0 : 1;
}

int ONetwork::GetStatus(int, int) {
    return m_nMode != 0 ? m_server.GetNetworkStatus() : m_client.GetNetworkStatus();
}

int ONetwork::Control(const char* text, const char* dir, const char* params, int) {
    CTraceLog& log = m_nMode != 0 ? static_cast<CTraceLog&>(m_server) : static_cast<CTraceLog&>(m_client);
    if (text) {
        log.WriteLog("%s", text);
    } else if (dir) {
        log.SetLogPath(WithTrailingSeparator(dir, 1023).c_str());
    } else if (params) {
        intptr_t window = ParseHostWindowParameter(params);
        if (window >= 0) {
            m_client.SetHostWnd(static_cast<uintptr_t>(window));
            m_server.SetHostWnd(static_cast<uintptr_t>(window));
        }
    }
    return 0;
}

intptr_t ParseHostWindowParameter(const char* params) {
    for (stringx& item : StringSplit(stringx(params), ";")) {
        size_t at = item.find("NDCWND");
        if (at == std::string::npos) continue;
        stringx value(item.substr(at + 6));
        StringTrim(value, " ");
        StringTrim(value, "=");
        StringTrim(value, " ");
        // Leading decimal digits, 0 without; window handles are pointer-sized
        // (a long has 32 bits on 64-bit Windows).
        long long window = std::atoll(value.c_str());
        return window < 0 ? 0 : static_cast<intptr_t>(window);
    }
    return -1;
}

ONetworkItf* CreateNetworkInstance() { return new ONetwork(); }
