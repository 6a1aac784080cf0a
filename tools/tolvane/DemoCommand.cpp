// `tolvane demo`: needs nothing prepared. It writes a NetWork.ini into a
// scratch folder, starts a loopback echo peer, and runs the library client
// against it in every header mode and over TLS, checking every echo.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <Tolvane.h>

#include "Commands.h"
#include "devkit/ClientIni.h"
#include "devkit/CertKit.h"
#include "devkit/EchoPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Scenario {
    std::string name;
    int mode;
    std::string sessionKeys;  // extra keys of the client section
    bool tls;
    int tlsReadMode;  // ExecuteCMD 4 value
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

// A body of `size` bytes that the header mode can carry intact.
std::string MakeBody(int mode, size_t size, int seq) {
    std::string body(size, 'a');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i + static_cast<size_t>(seq)) % 26);
    if (mode == 0) body += "##.";  // end marker, then the one byte that follows it
    if (mode == 6) body += '\x03';
    return body;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

Outcome RunScenario(const Scenario& s, const std::string& folder, const std::string& certs) {
    Outcome out;
    devkit::EchoPeer peer = s.tls ? devkit::EchoPeer(certs + "/ServerCACert.pem", certs + "/ServerKey.pem")
                                  : devkit::EchoPeer();
    if (!peer.ok()) {
        out.result = "FAILED: echo peer";
        return out;
    }
    std::string ini = folder + "/NetWork.ini";
    WriteFile(ini, devkit::ClientIni(peer.port(), s.mode, s.sessionKeys, s.tls ? certs : std::string()));
    DemoHost host;
    host.SetConfigPathName(ini.c_str());
    host.SetLogPath((folder + "/Log/").c_str());
    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(s.tlsReadMode), nullptr, nullptr, 0);
    if (host.StartTolvane(0, 0) != 0) {
        out.result = "FAILED: start";
        return out;
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!host.connected && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!host.connected) {
        host.StopTolvane();
        out.result = "FAILED: no connection";
        return out;
    }
    const size_t sizes[] = {1, 10, 100, 1000, 4000};
    static unsigned char buf[102400];
    std::vector<double> rtts;
    out.result = "ok";
    for (int i = 0; i < 100; ++i) {
        std::string body = MakeBody(s.mode, sizes[i % 5], i);
        auto start = Clock::now();
        int sent = host.SendData(body.data(), static_cast<int>(body.size()), 0, nullptr, 0);
        int len = 0;
        int got = host.RecvData(buf, &len, 5000);
        rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (sent <= 0 || got != 0 || std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)) != body) {
            out.result = "FAILED at message " + std::to_string(i + 1);
            break;
        }
        ++out.messages;
        out.bytes += static_cast<long long>(body.size());
    }
    host.StopTolvane();
    std::sort(rtts.begin(), rtts.end());
    if (!rtts.empty()) out.medianUs = rtts[rtts.size() / 2];
    return out;
}

}  // namespace

int RunDemo() {
    char pattern[] = "/tmp/tolvane-demo-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::fprintf(stderr, "tolvane: cannot create a scratch folder in /tmp\n");
        return 1;
    }
    const std::string folder = pattern;
    const std::string certs = folder + "/certs";
    std::string made = "mkdir -p '" + certs + "'";
    if (std::system(made.c_str()) != 0) return 1;
    devkit::WriteStandardCerts(certs);

    const std::vector<Scenario> scenarios = {
        {"0 end marker ##", 0, "MsgEndData=##\n", false, 0},
        {"1 2-byte LE length", 1, "", false, 0},
        {"2 4 decimal digits", 2, "", false, 0},
        {"3 one read", 3, "", false, 0},
        {"4 2-byte BE length", 4, "", false, 0},
        {"5 4-byte BE length", 5, "", false, 0},
        {"6 end byte 0x03", 6, "", false, 0},
        {"5 over TLS, polling", 5, "", true, 0},
        {"5 over TLS, on events", 5, "", true, 1},
    };
    std::printf("%-24s %9s %9s %14s  %s\n", "mode", "messages", "bytes", "median RTT us", "result");
    bool allOk = true;
    for (const Scenario& s : scenarios) {
        Outcome o = RunScenario(s, folder, certs);
        allOk = allOk && o.result == "ok";
        std::printf("%-24s %9d %9lld %14.1f  %s\n", s.name.c_str(), o.messages, o.bytes, o.medianUs,
                    o.result.c_str());
    }
    std::printf("\ntrace files: %s/Log/\n", folder.c_str());
    std::printf("%s\n", allOk ? "all echoes verified" : "some echoes FAILED");
    return allOk ? 0 : 1;
}
