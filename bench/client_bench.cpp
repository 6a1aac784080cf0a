// Compares the library client with a plain blocking-socket client doing the
// same framing (header mode 5) against the same loopback echo peer, in one
// process and one run. Tracing stays on for the library, as in production.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

#include <Tolvane.h>

#include "PlainClient.h"
#include "TraceFloor.h"
#include "devkit/CertKit.h"
#include "devkit/ClientIni.h"
#include "devkit/EchoPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Latency {
    double p50 = 0, p99 = 0;
};

Latency Percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) return {};
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

std::string Frame(const std::string& body) {
    uint32_t n = htonl(static_cast<uint32_t>(body.size()));
    return std::string(reinterpret_cast<const char*>(&n), 4) + body;
}

// The library client as a host would drive it. With `notifyOnly` messages
// reach the host through OnReceive alone (SetRecvDataType 1), which counts
// those equal to `expected`.
class LibraryClient : public CITolvane {
public:
    LibraryClient(const std::string& folder, int port, const std::string& certs, int tlsReadMode,
                  bool notifyOnly = false, const std::string& expected = std::string())
        : m_expected(expected) {
        std::string ini = folder + "/NetWork.ini";
        std::ofstream(ini) << devkit::ClientIni(port, 5, "", certs);
        SetConfigPathName(ini.c_str());
        SetLogPath((folder + "/Log/").c_str());
        ExecuteCMD(4, nullptr, static_cast<unsigned long>(tlsReadMode), nullptr, nullptr, 0);
        if (notifyOnly) SetRecvDataType(1);
        StartTolvane(0, 0);
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_connected; });
    }
    ~LibraryClient() override { StopTolvane(); }
    void OnConnect(int) override {
        std::lock_guard<std::mutex> lock(m_lock);
        connectedAt = Clock::now();  // the timed window starts with the connection
        m_connected = true;
        m_changed.notify_all();
    }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        if (m_expected.empty() || len != m_expected.size() || std::memcmp(data, m_expected.data(), len) != 0) return;
        if (++m_matched != m_target) return;  // only the last one wakes the waiter
        std::lock_guard<std::mutex> lock(m_lock);
        m_changed.notify_all();
    }
    bool Recv(std::string* body) {
        static unsigned char buf[102400];
        int len = 0;
        if (RecvData(buf, &len, 10000) != 0) return false;
        body->assign(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
        return true;
    }
    // Waits until `count` expected messages came through OnReceive (at most
    // 10 s without progress); how many came.
    int WaitForMatched(int count) {
        m_target = count;
        std::unique_lock<std::mutex> lock(m_lock);
        int seen = -1;
        while (m_matched < count && seen != m_matched.load()) {
            seen = m_matched;
            m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_matched >= count; });
        }
        return m_matched;
    }
    bool connected() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_connected;
    }
    Clock::time_point connectedAt;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_connected = false;
    const std::string m_expected;
    std::atomic<int> m_matched{0};
    std::atomic<int> m_target{-1};
};

// Floor and library take turns in rounds, so that both meet the same
// machine: on a shared or virtual machine the speed moves by tens of percent
// within seconds, and windows measured one after the other would compare
// moments, not clients.
constexpr int kRounds = 5;

using Exchange = std::function<bool(const std::string&)>;

// Times `count` round trips of 100-byte messages, `exchange` sending one and
// waiting for its echo, into `us`; false when one failed.
bool TimeRoundTrips(int count, const Exchange& exchange, std::vector<double>* us) {
    const std::string body(100, 'r');
    for (int i = 0; i < count; ++i) {
        auto start = Clock::now();
        if (!exchange(body)) return false;
        us->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return true;
}

// Round trips after a quarter as many unmeasured ones for warm-up.
Latency RoundTrips(int count, const Exchange& exchange) {
    std::vector<double> us, warmUp;
    if (!TimeRoundTrips(count / 4, exchange, &warmUp)) return {};
    TimeRoundTrips(count, exchange, &us);
    return Percentiles(us);
}

// Messages per second over the rounds of a stream; 0 when a round did not
// receive all its messages intact.
struct StreamTally {
    int messages = 0;
    double seconds = 0;
    bool complete = true;
    void Add(int count, int got, Clock::time_point start) {
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        messages += got;
        complete = complete && got == count;
    }
    double Rate() const { return complete && seconds > 0 ? messages / seconds : 0; }
};

long ResidentKb() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

struct Row {
    std::string what;
    Latency plain, floor, library;
    double plainRate = 0, floorRate = 0, recvRate = 0, notifyRate = 0;
};

// A peer that sends `count` frames of `body` on every connection, prepared
// beforehand as one buffer of up to 1000 frames (about 1 MB) written again
// and again.
void PrepareStream(devkit::EchoPeer& peer, const std::string& body, int count) {
    const int perWrite = std::min(count, 1000);
    std::string chunk;
    chunk.reserve(static_cast<size_t>(perWrite) * (body.size() + 4));
    for (int i = 0; i < perWrite; ++i) chunk += Frame(body);
    peer.SetGreeting(chunk, count / perWrite);
}

Row Measure(const std::string& what, const std::string& folder, const std::string& certs, int tlsReadMode,
            int rttCount, int streamCount) {
    Row row{what, {}, {}, {}, 0, 0, 0, 0};
    const bool tls = !certs.empty();
    const std::string cert = tls ? certs + "/ServerCACert.pem" : "", key = tls ? certs + "/ServerKey.pem" : "";
    const std::string kb(1024, 'k');
    {
        devkit::EchoPeer peer(cert, key);
        PlainClient c(peer.port(), tls);
        row.plain = RoundTrips(rttCount, [&](const std::string& b) {
            std::string back;
            return c.SendFrame(b) && c.RecvFrame(&back) && back == b;
        });
    }
    {
        // The plain client writing the three records the library writes per
        // round trip (TRANSMIT, the read, RECEIVE), and the library, in turns.
        devkit::EchoPeer floorPeer(cert, key), libraryPeer(cert, key);
        PlainClient c(floorPeer.port(), tls);
        TraceFloor floor(folder + "/Log");
        const std::string body(100, 'r');
        c.onRead = [&](size_t n) { floor.Reads(n, body); };
        const Exchange floorExchange = [&](const std::string& b) {
            std::string back;
            if (!c.SendFrame(b)) return false;
            floor.Transmit(b);
            if (!c.RecvFrame(&back)) return false;
            floor.Receive(back);
            return back == b;
        };
        LibraryClient lib(folder, libraryPeer.port(), certs, tlsReadMode);
        std::string back;
        const Exchange libraryExchange = [&](const std::string& b) {
            return lib.SendData(b.data(), static_cast<int>(b.size()), 0, nullptr, 0) > 0 && lib.Recv(&back) &&
                   back == b;
        };
        std::vector<double> floorUs, libraryUs, warmUp;
        bool ok = TimeRoundTrips(rttCount / 4, floorExchange, &warmUp) &&
                  TimeRoundTrips(rttCount / 4, libraryExchange, &warmUp);
        const int perRound = std::max(1, rttCount / kRounds);
        for (int round = 0; ok && round < kRounds; ++round)
            ok = TimeRoundTrips(perRound, floorExchange, &floorUs) &&
                 TimeRoundTrips(perRound, libraryExchange, &libraryUs);
        if (ok) {
            row.floor = Percentiles(floorUs);
            row.library = Percentiles(libraryUs);
        }
    }
    // Every connection to the peer receives one round's messages.
    const int perRound = std::max(1, streamCount / kRounds);
    devkit::EchoPeer peer(cert, key);
    PrepareStream(peer, kb, perRound);
    StreamTally plain, floorStream, recvData, onReceive;
    for (int round = 0; round < kRounds; ++round) {
        {
            PlainClient c(peer.port(), tls);
            const auto start = Clock::now();
            int got = 0;
            std::string body;
            while (got < perRound && c.RecvFrame(&body) && body == kb) ++got;
            plain.Add(perRound, got, start);
        }
        {
            // The same with a read record per library-sized read and a
            // RECEIVE record per message.
            PlainClient c(peer.port(), tls);
            TraceFloor floor(folder + "/Log");
            c.onRead = [&](size_t n) { floor.Reads(n, kb); };
            const auto start = Clock::now();
            int got = 0;
            std::string body;
            while (got < perRound && c.RecvFrame(&body) && body == kb) {
                floor.Receive(body);
                ++got;
            }
            floorStream.Add(perRound, got, start);
        }
        {
            LibraryClient lib(folder, peer.port(), certs, tlsReadMode);
            int got = 0;
            std::string body;
            while (got < perRound && lib.Recv(&body) && body == kb) ++got;
            recvData.Add(perRound, got, lib.connectedAt);
        }
        {
            LibraryClient lib(folder, peer.port(), certs, tlsReadMode, true, kb);
            onReceive.Add(perRound, lib.WaitForMatched(perRound), lib.connectedAt);
        }
    }
    row.plainRate = plain.Rate();
    row.floorRate = floorStream.Rate();
    row.recvRate = recvData.Rate();
    row.notifyRate = onReceive.Rate();
    return row;
}

}  // namespace

// An optional argument divides every count (for runs under a profiler).
int main(int argc, char** argv) {
    const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    char pattern[] = "/tmp/tolvane-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern, certs = folder + "/certs";
    if (std::system(("mkdir -p '" + certs + "'").c_str()) != 0) return 1;
    devkit::WriteStandardCerts(certs);

    long before = ResidentKb();
    auto* one = new CITolvane();
    long after = ResidentKb();

    std::vector<Row> rows = {
        Measure("plain TCP", folder, "", 0, 20000 / scale, 200000 / scale),
        Measure("TLS, polling reads", folder, certs, 0, std::max(4, 40 / scale), std::max(30, 300 / scale)),
        Measure("TLS, reads on events", folder, certs, 1, 20000 / scale, 200000 / scale),
    };
    delete one;

    auto ratio = [](double part, double whole) { return whole > 0 ? part / whole : 0.0; };
    auto share = [](double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    std::printf("Round trip of 100-byte messages (header mode 5), microseconds; the floor is the plain client\n"
                "writing the records the library writes\n");
    std::printf("%-22s %9s %9s %9s %9s %9s %9s %8s %8s\n", "", "plain p50", "plain p99", "floor p50", "floor p99",
                "lib p50", "lib p99", "x plain", "x floor");
    for (const Row& r : rows)
        std::printf("%-22s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f\n", r.what.c_str(), r.plain.p50,
                    r.plain.p99, r.floor.p50, r.floor.p99, r.library.p50, r.library.p99,
                    ratio(r.library.p50, r.plain.p50), ratio(r.library.p50, r.floor.p50));
    std::printf("\nOne-way throughput of 1 KB messages, messages per second; shares of the floor\n");
    std::printf("%-22s %10s %10s %10s %7s %10s %7s\n", "", "plain", "floor", "RecvData", "share", "OnReceive",
                "share");
    for (const Row& r : rows)
        std::printf("%-22s %10.0f %10.0f %10.0f %6.1f%% %10.0f %6.1f%%\n", r.what.c_str(), r.plainRate,
                    r.floorRate, r.recvRate, share(r.recvRate, r.floorRate), r.notifyRate,
                    share(r.notifyRate, r.floorRate));
    std::printf("\nResident memory of one idle CITolvane: %ld KB\n", after - before);
    std::printf("Trace files: %s/Log/\n", folder.c_str());
    const Row& tcp = rows.front();
    std::printf("vs floor: round trip %.2fx, RecvData %.0f%%, OnReceive %.0f%%\n", ratio(tcp.library.p50, tcp.floor.p50),
                share(tcp.recvRate, tcp.floorRate), share(tcp.notifyRate, tcp.floorRate));
    return 0;
}
