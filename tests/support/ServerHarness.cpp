#include "support/ServerHarness.h"

namespace testsupport {

ServerScene::ServerScene() : port(RefusingPort()) {}

void ServerScene::ConfigureServer(const std::string& keys, const std::string& extra) {
    WriteTextFile(ini, "[TcpServerSession-0]\nport=" + std::to_string(port) + "\n" + keys + "\n" + extra + "\n");
}

int ServerScene::StartServer(CITolvane& host, const std::string& keys, const std::string& extra) {
    ConfigureServer(keys, extra);
    host.SetConfigPathName(ini.c_str());
    host.SetLogPath(logDir.c_str());
    return host.StartTolvane(1, 0);
}

ServedPeer::ServedPeer(const std::string& keys, const std::string& extra)
    : ok(scene.StartServer(host, keys, extra) == 0 && ConnectPeer(peer)) {}

bool ServedPeer::ConnectPeer(TcpConnection& connection, const char* sourceIp) {
    const int before = host.connects;
    return connection.Connect(scene.port, sourceIp) && WaitUntil([&] { return host.connects > before; });
}

}  // namespace testsupport
