#include "support/Harness.h"

#include <chrono>
#include <filesystem>

#include "platform/Paths.h"

namespace testsupport {

ExeFolder::ExeFolder(const TempDir& dir, bool withCerts) {
    platform::SetModuleFileNameForTest(dir.file("host"));
#if TOLVANE_HAVE_TLS
    if (withCerts && std::filesystem::create_directory(dir.file("certs")))
        certs = devkit::WriteStandardCerts(dir.file("certs"));
#else
    (void)withCerts;  // a build without TLS makes no certificates
#endif
}

ExeFolder::~ExeFolder() { platform::SetModuleFileNameForTest(std::string()); }

ClientScene::ClientScene() : ini(dir.file("NetWork.ini")), logDir(dir.path() + "/log/") {}

std::string SessionSection(int n, const std::string& ip, int port) {
    return "[TcpClientSession-" + std::to_string(n) + "]\nip=" + ip + "\nport=" + std::to_string(port) + "\n";
}

void ClientScene::Configure(int port, const std::string& extra) {
    WriteTextFile(ini, SessionSection(0, "127.0.0.1", port) + extra + "\n");
}

int ClientScene::Start(CITolvane& host, int port, const std::string& extra) {
    Configure(port, extra);
    host.SetConfigPathName(ini.c_str());
    host.SetLogPath(logDir.c_str());
    return host.StartTolvane(0, 0);
}

std::string ClientScene::Trace() const {
    std::string all;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(logDir, ec))
        if (entry.path().extension() == ".log") all += ReadTextFile(entry.path().string());
    return all;
}

bool ClientScene::WaitForTrace(const std::string& text, int count, int timeoutMs) const {
    return WaitUntil([&] { return CountOf(Trace(), text) >= static_cast<size_t>(count); },
                     std::chrono::milliseconds(timeoutMs));
}

std::string NextMessage(CITolvane& host, unsigned long timeoutMs) {
    std::vector<unsigned char> buf(102400);
    int len = 0;
    if (host.RecvData(buf.data(), &len, timeoutMs) != 0) return "<none>";
    return std::string(buf.begin(), buf.begin() + len);
}

ConnectedClient::ConnectedClient(const std::string& keys)
    : ok(scene.Start(host, peer.port(), keys) == 0 && peer.Accept() &&
         WaitUntil([&] { return host.connects == 1 && host.GetNetworkStatus() == 0; })) {}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

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
