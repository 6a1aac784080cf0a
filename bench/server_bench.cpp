// Compares the library server, driven as a host drives it (RecvData, then
// SendData back), with a plain blocking-socket server doing the same framing
// (header mode 5), both served by the same plain client in one run. Tracing
// stays on. (WebSocket round trips: websocket_bench.)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <Tolvane.h>

#include "PlainClient.h"
#include "TraceFloor.h"
#include "devkit/ClientIni.h"
#include "devkit/LoopbackPort.h"

namespace {

using Clock = std::chrono::steady_clock;
// Divided by main's optional argument (for runs under a profiler).
int kRoundTrips = 20000;
int kWarmUp = 2000;
int kOneWay = 200000;

struct Latency {
    double p50 = 0, p99 = 0;
};

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// One server under test: started on a port, then serving one client.
struct Server {
    virtual ~Server() = default;
    // Echo every message (round trips), or count `expected` messages and
    // stop, or send `count` copies of `body` once a client is connected.
    virtual void Echo() = 0;
    virtual void Count(int expected) = 0;
    // The same, the host taking each message in its notification.
    virtual void CountNotified(int expected) { Count(expected); }
    virtual void Send(const std::string& body, int count) = 0;
    virtual void Stop() = 0;
    std::atomic<bool> done{false};
    Clock::time_point finishedAt;
};

// The library server with a host thread that takes messages with RecvData.
class LibraryServer : public Server, public CITolvane {
public:
    LibraryServer(const std::string& folder, int port, const std::string& keys) {
        std::string ini = folder + "/NetWork.ini";
        std::ofstream(ini) << devkit::ServerIniSection(port, 5, keys);
        SetConfigPathName(ini.c_str());
        SetLogPath((folder + "/Log/").c_str());
        ok = StartTolvane(1, 0) == 0;
    }
    ~LibraryServer() override { Stop(); }
    void OnConnect(int) override { connected = true; }
    void OnReceive(const unsigned char*, unsigned long, int) override {
        if (m_notifyTarget > 0 && ++m_counted == m_notifyTarget) Finish();
    }
    void CountNotified(int expected) override {
        m_counted = 0;
        SetRecvDataType(1);
        m_notifyTarget = expected;
    }

    void Echo() override {
        Run([this](unsigned char* buf, int len) { SendData(buf, len, 0, nullptr, 0); return true; });
    }
    void Count(int expected) override {
        m_counted = 0;
        Run([this, expected](unsigned char*, int) {
            if (++m_counted < expected) return true;
            Finish();
            return false;
        });
    }
    void Send(const std::string& body, int count) override {
        m_thread = std::thread([this, body, count] {
            while (!connected && !m_stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (int i = 0; i < count && !m_stop; ++i) SendData(body.data(), static_cast<int>(body.size()), 0, nullptr, 0);
        });
    }
    void Stop() override {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        StopTolvane();
    }

    bool ok = false;
    std::atomic<bool> connected{false};

private:
    void Finish() {
        finishedAt = Clock::now();
        done = true;
    }
    void Run(std::function<bool(unsigned char*, int)> handle) {
        m_thread = std::thread([this, handle] {
            static unsigned char buf[102400];
            while (!m_stop) {
                int len = 0;
                if (RecvData(buf, &len, 100) == 0 && !handle(buf, len)) return;
            }
        });
    }

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_counted{0};
    std::atomic<int> m_notifyTarget{0};
    std::thread m_thread;
};

// The plain yardstick: one blocking socket, a large read buffer, one send
// per message. With a trace floor it also writes the records the library
// writes for the same traffic.
class PlainServer : public Server {
public:
    PlainServer(int port, TraceFloor* floor) : m_floor(floor) {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listen, 1);
    }
    ~PlainServer() override { Stop(); }

    // The frame goes back as it came, from the read buffer.
    void Echo() override {
        Serve([this](const char* frame, uint32_t len) {
            if (m_floor) m_floor->Receive(m_body.assign(frame + 4, len));
            const bool sent = SendAll(frame, 4 + len);
            if (m_floor) m_floor->Transmit(m_body);
            return sent;
        });
    }
    void Count(int expected) override {
        Serve([this, expected, counted = 0](const char* frame, uint32_t len) mutable {
            if (m_floor) m_floor->Receive(m_body.assign(frame + 4, len));
            if (++counted < expected) return true;
            finishedAt = Clock::now();
            done = true;
            return false;
        });
    }
    // The frame is built before the client connects.
    void Send(const std::string& body, int count) override {
        m_thread = std::thread([this, body, count] {
            uint32_t n = htonl(static_cast<uint32_t>(body.size()));
            const std::string frame = std::string(reinterpret_cast<const char*>(&n), 4) + body;
            m_fd = accept(m_listen, nullptr, nullptr);
            for (int i = 0; i < count; ++i) {
                if (!SendAll(frame.data(), frame.size())) return;
                if (m_floor) m_floor->Transmit(body);
            }
        });
    }
    void Stop() override {
        if (m_fd >= 0) shutdown(m_fd, SHUT_RDWR);
        shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) close(m_fd);
        if (m_listen >= 0) close(m_listen);
        m_fd = m_listen = -1;
    }

private:
    bool SendAll(const char* data, size_t len) {
        return send(m_fd, data, len, MSG_NOSIGNAL) == static_cast<ssize_t>(len);
    }
    // Reads with a large buffer and hands each complete frame on (header
    // first, then `len` body bytes). The floor gets the read records of each
    // read when its first frame is handled.
    void Serve(std::function<bool(const char*, uint32_t)> handle) {
        m_thread = std::thread([this, handle] {
            m_fd = accept(m_listen, nullptr, nullptr);
            std::vector<char> buf(4 << 20);
            size_t begin = 0, end = 0, unreported = 0;
            for (;;) {
                while (end - begin >= 4) {
                    uint32_t n = 0;
                    std::copy(buf.data() + begin, buf.data() + begin + 4, reinterpret_cast<char*>(&n));
                    n = ntohl(n);
                    if (end - begin < 4 + n) break;
                    if (m_floor && unreported) {
                        m_floor->Reads(unreported, m_body.assign(buf.data() + begin + 4, n));
                        unreported = 0;
                    }
                    if (!handle(buf.data() + begin, n)) return;
                    begin += 4 + n;
                }
                if (begin == end) begin = end = 0;
                if (buf.size() - end < 200000) {
                    std::copy(buf.begin() + static_cast<long>(begin), buf.begin() + static_cast<long>(end), buf.begin());
                    end -= begin;
                    begin = 0;
                }
                ssize_t r = recv(m_fd, buf.data() + end, buf.size() - end, 0);
                if (r <= 0) return;
                end += static_cast<size_t>(r);
                unreported += static_cast<size_t>(r);
            }
        });
    }

    TraceFloor* const m_floor;
    std::string m_body;  // the message the floor's records show; kept, so it allocates once
    int m_listen = -1;
    int m_fd = -1;
    std::thread m_thread;
};

Latency RoundTrips(const std::function<bool(const std::string&, std::string*)>& exchange) {
    const std::string body(100, 'r');
    std::string echo;
    for (int i = 0; i < kWarmUp; ++i) exchange(body, &echo);
    std::vector<double> us;
    us.reserve(kRoundTrips);
    for (int i = 0; i < kRoundTrips; ++i) {
        auto t0 = Clock::now();
        if (!exchange(body, &echo) || echo != body) break;
        us.push_back(Us(Clock::now() - t0));
    }
    std::sort(us.begin(), us.end());
    if (us.empty()) return {};
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

struct Figures {
    Latency rtt;
    double toServer = 0;    // messages per second the server takes with RecvData (SplitReads 1)
    double toServerNotified = 0;  // the same taken in OnReceive (SetRecvDataType 1)
    double fromServer = 0;  // messages per second the server sends with SendData
};

using MakeServer = std::function<std::unique_ptr<Server>(int port, const std::string& keys)>;

// `notified`: also measure the host taking messages in OnReceive.
Figures Measure(const MakeServer& make, bool notified) {
    Figures f;
    {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "");
        server->Echo();
        PlainClient client(port, false);
        f.rtt = RoundTrips([&](const std::string& body, std::string* echo) {
            return client.SendFrame(body) && client.RecvFrame(echo);
        });
    }
    const std::string body(1000, 'm');
    // The client's frames are prepared before the window and written in large pieces.
    std::string stream;
    for (int i = 0; i < kOneWay; ++i) stream += std::string("\0\0\x03\xE8", 4) + body;
    auto oneWay = [&](bool inNotification) {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "SplitReads=1");
        if (inNotification) server->CountNotified(kOneWay);
        else server->Count(kOneWay);
        PlainClient client(port, false);
        const auto t0 = Clock::now();
        for (size_t off = 0; off < stream.size(); off += 1 << 20) client.SendBytes(stream.substr(off, 1 << 20));
        while (!server->done && Clock::now() - t0 < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        return server->done ? kOneWay / std::chrono::duration<double>(server->finishedAt - t0).count() : 0.0;
    };
    f.toServer = oneWay(false);
    f.toServerNotified = notified ? oneWay(true) : f.toServer;
    {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "");
        server->Send(body, kOneWay);
        PlainClient client(port, false);
        const auto t0 = Clock::now();
        std::string got;
        int n = 0;
        while (n < kOneWay && client.RecvFrame(&got)) ++n;
        if (n == kOneWay) f.fromServer = kOneWay / std::chrono::duration<double>(Clock::now() - t0).count();
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1; scale > 1) {
        kRoundTrips /= scale;
        kWarmUp /= scale;
        kOneWay /= scale;
    }
    char pattern[] = "/tmp/tolvane-server-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern;

    const std::string logs = folder + "/Log";
    Figures plain = Measure([](int port, const std::string&) { return std::make_unique<PlainServer>(port, nullptr); },
                            false);
    TraceFloor trace(logs);
    Figures floor = Measure([&](int port, const std::string&) { return std::make_unique<PlainServer>(port, &trace); },
                            false);
    Figures lib = Measure(
        [&](int port, const std::string& keys) {
            auto s = std::make_unique<LibraryServer>(folder, port, keys);
            return std::unique_ptr<Server>(std::move(s));
        },
        true);

    auto ratio = [](double part, double whole) { return whole > 0 ? part / whole : 0.0; };
    auto share = [](double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    std::printf("Round trip of 100-byte messages (header mode 5), microseconds, %d after %d warm-up;\n"
                "the floor is the plain server writing the records the library writes\n",
                kRoundTrips, kWarmUp);
    std::printf("%-14s %9s %9s %9s %9s %9s %9s %8s %8s\n", "", "plain p50", "plain p99", "floor p50", "floor p99",
                "lib p50", "lib p99", "x plain", "x floor");
    std::printf("%-14s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f\n", "plain TCP", plain.rtt.p50,
                plain.rtt.p99, floor.rtt.p50, floor.rtt.p99, lib.rtt.p50, lib.rtt.p99,
                ratio(lib.rtt.p50, plain.rtt.p50), ratio(lib.rtt.p50, floor.rtt.p50));
    std::printf("\nOne-way throughput of %d 1000-byte messages, messages per second; shares of the floor\n",
                kOneWay);
    std::printf("%-44s %10s %10s %10s %7s\n", "", "plain", "floor", "library", "share");
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "client to server, RecvData (SplitReads=1)", plain.toServer,
                floor.toServer, lib.toServer, share(lib.toServer, floor.toServer));
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "client to server, OnReceive (SplitReads=1)",
                plain.toServer, floor.toServer, lib.toServerNotified, share(lib.toServerNotified, floor.toServer));
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "server to client, SendData", plain.fromServer,
                floor.fromServer, lib.fromServer, share(lib.fromServer, floor.fromServer));

    std::printf("\ntrace files: %s/Log/\n", folder.c_str());
    std::printf("vs floor: round trip %.2fx, RecvData %.0f%%, OnReceive %.0f%%\n", ratio(lib.rtt.p50, floor.rtt.p50),
                share(lib.toServer, floor.toServer), share(lib.toServerNotified, floor.toServer));
    return 0;
}
