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

// Plain server, floor and library take turns in rounds, so that all meet the
// same machine: on a shared or virtual machine the speed moves by tens of
// percent within seconds, and windows measured one after the other would
// compare moments, not servers. Every round has a share of the counts.
constexpr int kRounds = 5;

// Messages per second over the rounds; 0 when a round did not complete.
struct Throughput {
    double messages = 0, seconds = 0;
    bool complete = true;
    void Add(int count, bool done, Clock::duration took) {
        complete = complete && done;
        messages += count;
        seconds += std::chrono::duration<double>(took).count();
    }
    double Rate() const { return complete && seconds > 0 ? messages / seconds : 0; }
};

struct Figures {
    std::vector<double> rttUs;
    Throughput toServer;          // the server takes messages with RecvData (SplitReads 1)
    Throughput toServerNotified;  // the same taken in OnReceive (SetRecvDataType 1)
    Throughput fromServer;        // the server sends with SendData
    Latency Rtt() const {
        std::vector<double> us = rttUs;
        std::sort(us.begin(), us.end());
        if (us.empty()) return {};
        return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
    }
};

void TimeRoundTrips(const std::function<bool(const std::string&, std::string*)>& exchange, std::vector<double>* us) {
    const std::string body(100, 'r');
    std::string echo;
    for (int i = 0; i < kWarmUp / kRounds; ++i) exchange(body, &echo);
    for (int i = 0; i < kRoundTrips / kRounds; ++i) {
        auto t0 = Clock::now();
        if (!exchange(body, &echo) || echo != body) break;
        us->push_back(Us(Clock::now() - t0));
    }
}

using MakeServer = std::function<std::unique_ptr<Server>(int port, const std::string& keys)>;

// One round for one kind of server, added to `f`. `stream` holds one round's
// frames from the client; `notified`: also measure the host taking messages
// in OnReceive.
void MeasureRound(const MakeServer& make, bool notified, const std::string& stream, Figures* f) {
    const int count = kOneWay / kRounds;
    {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "");
        server->Echo();
        PlainClient client(port, false);
        TimeRoundTrips([&](const std::string& body, std::string* echo) {
            return client.SendFrame(body) && client.RecvFrame(echo);
        }, &f->rttUs);
    }
    auto oneWay = [&](bool inNotification, Throughput* into) {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "SplitReads=1");
        if (inNotification) server->CountNotified(count);
        else server->Count(count);
        PlainClient client(port, false);
        const auto t0 = Clock::now();
        for (size_t off = 0; off < stream.size(); off += 1 << 20) client.SendBytes(stream.substr(off, 1 << 20));
        while (!server->done && Clock::now() - t0 < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        into->Add(count, server->done, server->finishedAt - t0);
    };
    oneWay(false, &f->toServer);
    if (notified) oneWay(true, &f->toServerNotified);
    {
        const int port = devkit::FreeLoopbackPort();
        auto server = make(port, "");
        server->Send(std::string(1000, 'm'), count);
        PlainClient client(port, false);
        const auto t0 = Clock::now();
        std::string got;
        int n = 0;
        while (n < count && client.RecvFrame(&got)) ++n;
        f->fromServer.Add(count, n == count, Clock::now() - t0);
    }
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

    // The client's frames are prepared before any window and written in large pieces.
    const std::string body(1000, 'm');
    std::string stream;
    for (int i = 0; i < kOneWay / kRounds; ++i) stream += std::string("\0\0\x03\xE8", 4) + body;
    TraceFloor trace(folder + "/Log");
    const MakeServer makePlain = [](int port, const std::string&) { return std::make_unique<PlainServer>(port, nullptr); };
    const MakeServer makeFloor = [&](int port, const std::string&) { return std::make_unique<PlainServer>(port, &trace); };
    const MakeServer makeLibrary = [&](int port, const std::string& keys) {
        return std::unique_ptr<Server>(std::make_unique<LibraryServer>(folder, port, keys));
    };
    Figures plain, floor, lib;
    for (int round = 0; round < kRounds; ++round) {
        MeasureRound(makePlain, false, stream, &plain);
        MeasureRound(makeFloor, false, stream, &floor);
        MeasureRound(makeLibrary, true, stream, &lib);
    }
    const Latency plainRtt = plain.Rtt(), floorRtt = floor.Rtt(), libRtt = lib.Rtt();

    auto ratio = [](double part, double whole) { return whole > 0 ? part / whole : 0.0; };
    auto share = [](double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    std::printf("Round trip of 100-byte messages (header mode 5), microseconds, %d after %d warm-up;\n"
                "the floor is the plain server writing the records the library writes\n",
                kRoundTrips, kWarmUp);
    std::printf("%-14s %9s %9s %9s %9s %9s %9s %8s %8s\n", "", "plain p50", "plain p99", "floor p50", "floor p99",
                "lib p50", "lib p99", "x plain", "x floor");
    std::printf("%-14s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f\n", "plain TCP", plainRtt.p50,
                plainRtt.p99, floorRtt.p50, floorRtt.p99, libRtt.p50, libRtt.p99,
                ratio(libRtt.p50, plainRtt.p50), ratio(libRtt.p50, floorRtt.p50));
    std::printf("\nOne-way throughput of %d 1000-byte messages, messages per second; shares of the floor\n",
                kOneWay);
    std::printf("%-44s %10s %10s %10s %7s\n", "", "plain", "floor", "library", "share");
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "client to server, RecvData (SplitReads=1)", plain.toServer.Rate(),
                floor.toServer.Rate(), lib.toServer.Rate(), share(lib.toServer.Rate(), floor.toServer.Rate()));
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "client to server, OnReceive (SplitReads=1)",
                plain.toServer.Rate(), floor.toServer.Rate(), lib.toServerNotified.Rate(), share(lib.toServerNotified.Rate(), floor.toServer.Rate()));
    std::printf("%-44s %10.0f %10.0f %10.0f %6.0f%%\n", "server to client, SendData", plain.fromServer.Rate(),
                floor.fromServer.Rate(), lib.fromServer.Rate(), share(lib.fromServer.Rate(), floor.fromServer.Rate()));

    std::printf("\ntrace files: %s/Log/\n", folder.c_str());
    std::printf("vs floor: round trip %.2fx, RecvData %.0f%%, OnReceive %.0f%%\n", ratio(libRtt.p50, floorRtt.p50),
                share(lib.toServer.Rate(), floor.toServer.Rate()), share(lib.toServerNotified.Rate(), floor.toServer.Rate()));
    return 0;
}
