// The TLS object of a build without OpenSSL: the settings are read, but a
// configuration that asks for TLS is refused with a trace line, and the
// client and server starts fail then (OSSL::kAvailable).
#include "tls/OSSL.h"

#include "common/PathText.h"
#include "common/ModuleDir.h"
#include "log/TraceLog.h"
#include "platform/IniFile.h"

OSSL::OSSL() = default;
OSSL::~OSSL() = default;

int OSSL::iLoadParameters(const char* configPath, int /*clientRole*/) {
    const std::string config =
        configPath ? std::string(configPath) : PathInFolder(GetModuleDirString(1000), "Network.ini");
    const int useSsl = platform::GetPrivateProfileIntA("SSLConfig", "UseSSL", 0, config.c_str());
    m_nUseSSL.store(useSsl);
    if (useSsl == 0) return 1;
    LogLine("UseSSL=1 refused: this build of the library has no TLS support");
    return -1;
}

int OSSL::iSSLConnect(platform::SOCKET, const char*) { return 0; }
int OSSL::iSSLAccept(platform::SOCKET, const char*) { return 0; }
int OSSL::iSSLReceive(void*, int, std::string*) { return -2; }
int OSSL::iSSLSend(const void*, int, const std::function<bool()>&) { return -2; }
int OSSL::CloseSSL() { return 1; }
int OSSL::CloseSSLOf(platform::SOCKET) { return 0; }
int OSSL::verify_callback_server(int preverify, X509_STORE_CTX*) { return preverify; }
bool OSSL::HasContext() const { return false; }
bool OSSL::HasConnection() const { return false; }
