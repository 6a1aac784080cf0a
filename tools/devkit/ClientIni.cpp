#include "devkit/ClientIni.h"

#include "devkit/CertKit.h"
#include "devkit/ExeRelativePath.h"

namespace devkit {

std::string ClientIni(int port, int mode, const std::string& sessionKeys, const std::string& certsFolder) {
    std::string ini = "[TcpClientSession-0]\nip=127.0.0.1\nport=" + std::to_string(port) +
                      "\nnetheader=" + std::to_string(mode) + "\n" + sessionKeys +
                      "\n[NetworkPara_client_0]\nReconnInterval=500\n";
    if (certsFolder.empty()) return ini;
    return ini + "[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\n"
                 "CA=" + ExeRelativePath(certsFolder + "/CACert.pem") + "\n"
                 "ServerCA=" + ExeRelativePath(certsFolder + "/ServerCACert.pem") + "\n"
                 "ServerKEY=" + ExeRelativePath(certsFolder + "/ServerKey.pem") + "\n"
                 "PeerCerSubject=" + kTestServerSubject + "\n";
}

std::string ServerIniSection(int port, int mode, const std::string& keys) {
    return "[TcpServerSession-0]\nport=" + std::to_string(port) + "\nnetheader=" + std::to_string(mode) + "\n" +
           keys + "\n";
}

}  // namespace devkit
