#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "devkit/CertKit.h"
#include "interface/Tolvane.h"
#include "support/Loopback.h"
#include "support/TestSupport.h"

namespace testsupport {

// A host that records every notification it gets. It stops the service
// before its records go away.
class RecordingHost : public CITolvane {
public:
    ~RecordingHost() override { StopTolvane(); }
    void OnConnect(int) override {
        ++connects;
        if (onConnect) onConnect();
        Note("connect", [] {});
    }
    void OnClose(int error) override { Note("close", [&] { m_closeErrors.push_back(error); }); }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        if (onReceive) onReceive();
        Note("receive", [&] { m_received.emplace_back(reinterpret_cast<const char*>(data), len); });
        if (echo) SendData(data, static_cast<int>(len), 0, nullptr, 0);
    }
    std::vector<std::string> Received() { return Copy(m_received); }
    std::vector<int> CloseErrors() { return Copy(m_closeErrors); }
    // Each notification as it returned, with the status seen then: "connect:0", ...
    std::vector<std::string> Events() { return Copy(m_events); }

    std::atomic<int> connects{0};
    // Set before the start: each runs first in its notification; `echo` sends every message back.
    std::function<void()> onConnect, onReceive;
    bool echo = false;

private:
    // Records under the lock, then notes the notification with the status seen now.
    template <class F>
    void Note(const char* what, F record) {
        std::lock_guard<std::mutex> lock(m_lock);
        record();
        m_events.push_back(what + (":" + std::to_string(GetNetworkStatus())));
    }
    template <class T>
    T Copy(const T& records) {
        std::lock_guard<std::mutex> lock(m_lock);
        return records;
    }

    std::mutex m_lock;
    std::vector<int> m_closeErrors;
    std::vector<std::string> m_received;
    std::vector<std::string> m_events;
};

// Makes `dir` pose as the executable's folder (with the standard test
// certificates in its "certs" folder when `withCerts`) until the object goes.
class ExeFolder {
public:
    explicit ExeFolder(const TempDir& dir, bool withCerts = true);
    ~ExeFolder();
    devkit::TestCertFiles certs;
};

// The NetWork.ini section of client session `n`.
std::string SessionSection(int n, const std::string& ip, int port);

// A scratch folder with a NetWork.ini and a trace folder for one client.
class ClientScene {
public:
    ClientScene();
    // Writes NetWork.ini: session 0 pointed at 127.0.0.1:port plus `extra`
    // lines (whole sections may follow).
    void Configure(int port, const std::string& extra = std::string());
    // Configure, point the host at this scene's configuration and trace
    // folder and StartTolvane(0, 0); the start's result.
    int Start(CITolvane& host, int port, const std::string& extra = std::string());
    // Everything traced so far (all day files of the trace folder).
    std::string Trace() const;
    bool WaitForTrace(const std::string& text, int count = 1, int timeoutMs = 5000) const;

    TempDir dir;
    std::string ini;
    std::string logDir;
};

// The next message RecvData gives within `timeoutMs`, or "<none>".
std::string NextMessage(CITolvane& host, unsigned long timeoutMs = 5000);

// A client started with the given client-section keys; `ok` when its own
// peer has accepted it and it reports itself connected.
struct ConnectedClient {
    explicit ConnectedClient(const std::string& keys = std::string());
    std::string Next(unsigned long timeoutMs = 5000) { return NextMessage(host, timeoutMs); }
    int Send(const std::string& body, const char* logText = nullptr, int logLen = 0) {
        return host.SendData(body.data(), static_cast<int>(body.size()), 0, logText, logLen);
    }

    LoopbackPeer peer;
    ClientScene scene;
    RecordingHost host;
    bool ok;
};

size_t CountOf(const std::string& haystack, const std::string& needle);

// A recording host that also sends every message back to its peer.
struct EchoingHost : RecordingHost {
    EchoingHost() { echo = true; }
    // Stopped before this part goes: a notification still running must not
    // see the object turn back into a plain RecordingHost.
    ~EchoingHost() override { StopTolvane(); }
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
