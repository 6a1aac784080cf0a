// `tolvane demo`: needs nothing prepared. It writes a NetWork.ini into a
// scratch folder and runs the library client in every header mode and over
// TLS, first against a loopback echo peer, then against the library server
// echoing through its host; last a WebSocket client talks to the library
// server. Every echo is checked; the scratch folder goes at the end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <random>
#include <unistd.h>
#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // Windows: no program is started from here
#endif

#include <Tolvane.h>

#include "Commands.h"
#include "devkit/ClientIni.h"
#if TOLVANE_HAVE_TLS
#include "devkit/CertKit.h"
#endif
#include "devkit/EchoPeer.h"
#include "devkit/ExeRelativePath.h"
#include "devkit/LoopbackPort.h"
#include "devkit/WsClient.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Peer { EchoPeer, LibraryServer, WebSocketClient };

struct Scenario {
    std::string name;
    int mode;
    std::string sessionKeys;  // extra keys of the client section
    bool tls;
    int tlsReadMode;  // ExecuteCMD 4 value
    Peer peer;
};

struct Outcome {
    int messages = 0;
    long long bytes = 0;
    double medianUs = 0;
    std::string result;
};

class DemoHost : public CITolvane {
public:
    void OnConnect(int) override { connected = true; }
    std::atomic<bool> connected{false};
};

// The library server's host: sends every message back.
class EchoServerHost : public CITolvane {
public:
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        SendData(data, static_cast<int>(len), 0, nullptr, 0);
    }
};

// A session's first connection also waits for its socket window; the first
// window of a process under Wine waits up to 10 s for the desktop process,
// which Wine starts anew whenever its last program has ended.
bool WaitFor(const std::atomic<bool>& flag) {
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!flag && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return flag;
}

// A body of `size` bytes that the header mode can carry intact.
std::string MakeBody(int mode, size_t size, int seq) {
    std::string body(size, 'a');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i + static_cast<size_t>(seq)) % 26);
    if (mode == 0) body += "##.";  // end marker, then the one byte that follows it
    if (mode == 6) body += '\x03';
    return body;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Sends 100 messages of 1 to 4000 bytes and checks that each comes back.
Outcome Exchange(int mode, const std::function<bool(const std::string&)>& send,
                 const std::function<bool(std::string*)>& receive) {
    Outcome out;
    const size_t sizes[] = {1, 10, 100, 1000, 4000};
    std::vector<double> rtts;
    out.result = "ok";
    for (int i = 0; i < 100; ++i) {
        std::string body = MakeBody(mode, sizes[i % 5], i);
        std::string echo;
        auto start = Clock::now();
        bool ok = send(body) && receive(&echo);
        rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!ok || echo != body) {
            out.result = "FAILED at message " + std::to_string(i + 1);
            break;
        }
        ++out.messages;
        out.bytes += static_cast<long long>(body.size());
    }
    std::sort(rtts.begin(), rtts.end());
    if (!rtts.empty()) out.medianUs = rtts[rtts.size() / 2];
    return out;
}

Outcome Failed(const std::string& why) {
    Outcome out;
    out.result = "FAILED: " + why;
    return out;
}

// The library client against an echo peer or the library server.
Outcome RunClient(const Scenario& s, const std::string& folder, const std::string& certs) {
    const bool library = s.peer == Peer::LibraryServer;
    devkit::EchoPeer peer = s.tls && !library ? devkit::EchoPeer(certs + "/ServerCACert.pem", certs + "/ServerKey.pem")
                                              : devkit::EchoPeer();
    const int port = library ? devkit::FreeLoopbackPort() : peer.port();
    if (!library && !peer.ok()) return Failed("echo peer");
    std::string ini = folder + "/NetWork.ini";
    WriteFile(ini, devkit::ClientIni(port, s.mode, s.sessionKeys, s.tls ? certs : std::string()) +
                       (library ? devkit::ServerIniSection(port, s.mode == 0 ? 3 : s.mode) : std::string()));
    EchoServerHost server;
    server.SetConfigPathName(ini.c_str());
    server.SetLogPath((folder + "/Log/").c_str());
    server.SetLogName("TolvaneServer");
    if (library && server.StartTolvane(1, 0) != 0) return Failed("server start");
    DemoHost host;
    host.SetConfigPathName(ini.c_str());
    host.SetLogPath((folder + "/Log/").c_str());
    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(s.tlsReadMode), nullptr, nullptr, 0);
    if (host.StartTolvane(0, 0) != 0) return Failed("start");
    Outcome out = Failed("no connection");
    if (WaitFor(host.connected)) {
        static unsigned char buf[102400];
        out = Exchange(
            s.mode,
            [&](const std::string& body) { return host.SendData(body.data(), static_cast<int>(body.size()), 0, nullptr, 0) > 0; },
            [&](std::string* echo) {
                int len = 0;
                if (host.RecvData(buf, &len, 5000) != 0) return false;
                echo->assign(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
                return true;
            });
    }
    host.StopTolvane();
    server.StopTolvane();
    return out;
}

// A WebSocket client against the library server.
Outcome RunWebSocket(const std::string& folder) {
    const int port = devkit::FreeLoopbackPort();
    std::string ini = folder + "/NetWork.ini";
    WriteFile(ini, devkit::ServerIniSection(port, 0, "IsWebsocket=1"));
    EchoServerHost server;
    server.SetConfigPathName(ini.c_str());
    server.SetLogPath((folder + "/Log/").c_str());
    server.SetLogName("TolvaneServer");
    if (server.StartTolvane(1, 0) != 0) return Failed("server start");
    devkit::WsClient client;
    Outcome out = Failed("opening handshake");
    if (client.Connect(port)) {
        out = Exchange(
            3, [&](const std::string& body) { return client.SendFrame(1, body); },
            [&](std::string* echo) {
                int opcode = 0;
                return client.ReadFrame(&opcode, echo) && opcode == 1;
            });
    }
    client.Close();
    server.StopTolvane();
    return out;
}

// The TLS rows of a build without TLS say so instead of running.
constexpr const char* kNoTls = "skipped: this build has no TLS";

Outcome RunScenario(const Scenario& s, const std::string& folder, const std::string& certs) {
    if (s.tls && !TOLVANE_HAVE_TLS) {
        Outcome out;
        out.result = kNoTls;
        return out;
    }
    return s.peer == Peer::WebSocketClient ? RunWebSocket(folder) : RunClient(s, folder, certs);
}

}  // namespace

namespace {

// Points the process's standard output at a file for its lifetime, so that
// what the library prints there (its TLS certificate check prints
// "verify_callback_server" lines) does not land in the table, which goes
// to the original output through table().
class LibraryOutputAside {
public:
    explicit LibraryOutputAside(const std::string& file) {
        std::fflush(stdout);
        const int saved = dup(1);
        const int aside = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (saved >= 0 && aside >= 0 && dup2(aside, 1) >= 0) {
            m_saved = saved;
            m_table = fdopen(dup(saved), "w");
        } else if (saved >= 0) {
            close(saved);
        }
        if (aside >= 0) close(aside);
    }
    ~LibraryOutputAside() {
        if (m_table) std::fclose(m_table);
        if (m_saved < 0) return;
        std::fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
    }
    LibraryOutputAside(const LibraryOutputAside&) = delete;
    LibraryOutputAside& operator=(const LibraryOutputAside&) = delete;
    std::FILE* table() const { return m_table ? m_table : stdout; }

private:
    int m_saved = -1;
    std::FILE* m_table = nullptr;
};

int RunScenarios(std::FILE* out, const std::string& folder, const std::string& certs, bool keep) {
    const std::vector<Scenario> modes = {
        {"0 end marker ##", 0, "MsgEndData=##\n", false, 0, Peer::EchoPeer},
        {"1 2-byte LE length", 1, "", false, 0, Peer::EchoPeer},
        {"2 4 decimal digits", 2, "", false, 0, Peer::EchoPeer},
        {"3 one read", 3, "", false, 0, Peer::EchoPeer},
        {"4 2-byte BE length", 4, "", false, 0, Peer::EchoPeer},
        {"5 4-byte BE length", 5, "", false, 0, Peer::EchoPeer},
        {"6 end byte 0x03", 6, "", false, 0, Peer::EchoPeer},
        {"5 over TLS, polling", 5, "", true, 0, Peer::EchoPeer},
        {"5 over TLS, on events", 5, "", true, 1, Peer::EchoPeer},
    };
    std::vector<Scenario> scenarios = modes;
    for (Scenario s : modes) {
        s.peer = Peer::LibraryServer;
        scenarios.push_back(s);
    }
    scenarios.push_back({"WebSocket text frames", 0, "", false, 0, Peer::WebSocketClient});
    const char* peerNames[] = {"echo peer", "library server", "library server"};
    std::fprintf(out, "%-24s %-15s %9s %9s %14s  %s\n", "mode", "peer", "messages", "bytes", "median RTT us", "result");
    std::fflush(out);
    bool allOk = true;
    for (const Scenario& s : scenarios) {
        Outcome o = RunScenario(s, folder, certs);
        allOk = allOk && (o.result == "ok" || o.result == kNoTls);
        std::fprintf(out, "%-24s %-15s %9d %9lld %14.1f  %s\n", s.name.c_str(), peerNames[static_cast<int>(s.peer)],
                     o.messages, o.bytes, o.medianUs, o.result.c_str());
        std::fflush(out);
    }
    if (keep) std::fprintf(out, "\ntrace files: %s/Log/\n", folder.c_str());
    std::fprintf(out, "%s\n", allOk ? "all echoes verified" : "some echoes FAILED");
    return allOk ? 0 : 1;
}

// The library finds certificates only by a path relative to the executable's
// folder, which cannot lead to another drive (Windows): a temporary folder on
// another drive gives way to the executable's own folder. Empty when there
// is no temporary folder.
std::filesystem::path ScratchBase() {
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return std::filesystem::path();
    if (devkit::ExeRelativePath(temp.string()).empty()) return devkit::ExeFolder();
    return temp;
}

// A new folder of its own below ScratchBase(); empty when none could be made.
std::string MakeScratchFolder() {
    std::error_code ec;
    const std::filesystem::path temp = ScratchBase();
    if (temp.empty()) return std::string();
    std::random_device seed;
    std::mt19937 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "tolvane-demo-";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        const std::filesystem::path folder = temp / name;
        if (std::filesystem::create_directory(folder, ec) && !ec) return folder.string();
    }
    return std::string();
}

}  // namespace

int RunDemo(bool keep) {
    std::error_code ec;
    const std::string folder = MakeScratchFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "tolvane: cannot create a scratch folder in %s\n", ScratchBase().string().c_str());
        return 1;
    }
    const std::string certs = folder + "/certs";
    std::filesystem::create_directories(certs, ec);
    int result = 1;
    if (!ec) {
#if TOLVANE_HAVE_TLS
        devkit::WriteStandardCerts(certs);
#endif
        LibraryOutputAside aside(folder + "/library-output.txt");
        result = RunScenarios(aside.table(), folder, certs, keep);
    }
    if (!keep) std::filesystem::remove_all(folder, ec);
    return result;
}
