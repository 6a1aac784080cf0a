// The library server's WebSocket session against a raw WebSocket client on
// the loopback, its host echoing every message (tracing on, as in
// production): round trips as designed and with "SplitReads" and
// "WebsocketStrict" on, and the throughput of a burst that only the keys
// make possible (as designed, a read's second frame is dropped).
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

#include "devkit/LoopbackPort.h"
#include "devkit/WsClient.h"

namespace {

using Clock = std::chrono::steady_clock;

class EchoServer : public CITolvane {
public:
    EchoServer(const std::string& folder, int port, const std::string& keys) {
        const std::string ini = folder + "/NetWork.ini";
        std::ofstream(ini) << "[TcpServerSession-0]\nport=" << port << "\nIsWebsocket=1\n" << keys << "\n";
        SetConfigPathName(ini.c_str());
        SetLogPath((folder + "/Log/").c_str());
        SetRecvDataType(1);  // notified only: the bench takes nothing from the queue
        ok = StartTolvane(1, 0) == 0;
    }
    ~EchoServer() override { StopTolvane(); }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        SendData(data, static_cast<int>(len), 0, nullptr, 0);
    }
    bool ok;
};

// Microseconds of each round trip of `body`; empty when one failed.
std::vector<double> RoundTrips(devkit::WsClient& client, const std::string& body, int count) {
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        int opcode = 0;
        std::string echo;
        if (!client.SendFrame(1, body) || !client.ReadFrame(&opcode, &echo, 10000) || echo != body) return {};
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    return us;
}

void PrintRoundTrips(const char* name, const std::vector<double>& us) {
    if (us.empty()) {
        std::printf("%-34s failed\n", name);
        return;
    }
    std::printf("%-34s %10.1f %10.1f\n", name, us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]);
}

// Messages per second of `count` messages of `size` bytes sent back to back
// (from a second thread) while their echoes are read; 0 when one was lost.
double Burst(devkit::WsClient& client, size_t size, int count) {
    const std::string body(size, 'b');
    const auto start = Clock::now();
    std::atomic<bool> sent{true};
    std::thread sender([&] {
        for (int i = 0; i < count; ++i)
            if (!client.SendFrame(1, body)) sent = false;
    });
    int echoed = 0;
    for (int opcode = 0; echoed < count; ++echoed) {
        std::string echo;
        if (!client.ReadFrame(&opcode, &echo, 10000) || echo != body) break;
    }
    sender.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return sent && echoed == count ? count / seconds : 0;
}

}  // namespace

int main() {
    char folder[] = "/tmp/tolvane-wsbench.XXXXXX";
    if (!mkdtemp(folder)) return 1;
    std::printf("WebSocket round trip through the library server, microseconds\n");
    std::printf("%-34s %10s %10s\n", "", "p50", "p99");
    const struct {
        const char* name;
        const char* keys;
        size_t size;
    } trips[] = {
        {"100 B, as designed", "", 100},
        {"100 B, both keys on", "SplitReads=1\nWebsocketStrict=1", 100},
        {"30000 B, as designed", "", 30000},
        {"30000 B, both keys on", "SplitReads=1\nWebsocketStrict=1", 30000},
        {"102400 B, both keys on", "SplitReads=1\nWebsocketStrict=1", 102400},
    };
    for (const auto& t : trips) {
        const int port = devkit::FreeLoopbackPort();
        EchoServer server(folder, port, t.keys);
        devkit::WsClient client;
        if (!server.ok || !client.Connect(port)) return 1;
        PrintRoundTrips(t.name, RoundTrips(client, std::string(t.size, 'r'), t.size > 1000 ? 300 : 2000));
    }

    std::printf("\nBurst of messages sent back to back and echoed, both keys on, messages per second\n");
    for (size_t size : {100u, 1024u, 32768u}) {
        const int port = devkit::FreeLoopbackPort();
        EchoServer server(folder, port, "SplitReads=1\nWebsocketStrict=1");
        devkit::WsClient client;
        if (!server.ok || !client.Connect(port)) return 1;
        const int count = size > 10000 ? 1000 : 10000;
        std::printf("%6zu B x %5d                    %10.0f\n", size, count, Burst(client, size, count));
    }
    std::system((std::string("rm -rf ") + folder).c_str());
    return 0;
}
