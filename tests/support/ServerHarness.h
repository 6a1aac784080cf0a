#pragma once
#include <string>

#include "support/ClientHarness.h"
#include "support/TcpConnection.h"

namespace testsupport {

// A recording host that also sends every message back to its peer.
class EchoingHost : public RecordingHost {
public:
    // Stopped before this part goes, so that no notification reaches a host
    // that is half destroyed.
    ~EchoingHost() override { StopTolvane(); }
    void OnReceive(const unsigned char* data, unsigned long len, int error) override {
        RecordingHost::OnReceive(data, len, error);
        SendData(data, static_cast<int>(len), 0, nullptr, 0);
    }
};

// A scratch folder with a NetWork.ini whose server session 0 listens on a
// free loopback port.
class ServerScene : public ClientScene {
public:
    ServerScene();
    // Writes NetWork.ini: section TcpServerSession-0 with the port and
    // `keys`, then `extra` (whole sections).
    void ConfigureServer(const std::string& keys = std::string(), const std::string& extra = std::string());
    // ConfigureServer, point the host at it and StartTolvane(1, 0).
    int StartServer(CITolvane& host, const std::string& keys = std::string(),
                    const std::string& extra = std::string());

    int port;
};

// A library server whose host records every notification, with one
// connected raw peer when `ok`.
struct ServedPeer {
    explicit ServedPeer(const std::string& keys = std::string(), const std::string& extra = std::string());
    // Connects `peer` from `sourceIp` and waits for the host's next OnConnect.
    bool ConnectPeer(TcpConnection& peer, const char* sourceIp = "127.0.0.1");
    std::string Next(unsigned long timeoutMs = 5000) { return NextMessage(host, timeoutMs); }
    int Send(const std::string& body, const char* logText = nullptr, int logLen = 0) {
        return host.SendData(body.data(), static_cast<int>(body.size()), 0, logText, logLen);
    }

    ServerScene scene;
    RecordingHost host;
    TcpConnection peer;
    bool ok;
};

}  // namespace testsupport
