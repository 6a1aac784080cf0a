// Compares the library client with a plain blocking-socket client doing the
// same framing (header mode 5) against the same loopback echo peer, in one
// process and one run. Tracing stays on for the library, as in production.
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
#include <unistd.h>

#include <Tolvane.h>

#include "PlainClient.h"
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

class LibraryClient : public CITolvane {
public:
    LibraryClient(const std::string& folder, int port, const std::string& certs, int tlsReadMode) {
        std::string ini = folder + "/NetWork.ini";
        std::ofstream(ini) << devkit::ClientIni(port, 5, "", certs);
        SetConfigPathName(ini.c_str());
        SetLogPath((folder + "/Log/").c_str());
        ExecuteCMD(4, nullptr, static_cast<unsigned long>(tlsReadMode), nullptr, nullptr, 0);
        StartTolvane(0, 0);
        auto end = Clock::now() + std::chrono::seconds(10);
        while (!connected && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LibraryClient() override { StopTolvane(); }
    void OnConnect(int) override { connected = true; }
    bool Recv(std::string* body) {
        static unsigned char buf[102400];
        int len = 0;
        if (RecvData(buf, &len, 10000) != 0) return false;
        body->assign(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
        return true;
    }
    std::atomic<bool> connected{false};
};

// Round trips of 100-byte messages; `exchange` sends one and waits for its echo.
Latency RoundTrips(int count, const std::function<bool(const std::string&)>& exchange) {
    std::string body(100, 'r');
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        auto start = Clock::now();
        if (!exchange(body)) break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return Percentiles(us);
}

// Messages per second of `count` 1 KB messages the peer sends right after the
// connection is made; `connectAndReceive` returns how many arrived intact.
double Throughput(int count, const std::function<int()>& connectAndReceive) {
    auto start = Clock::now();
    int got = connectAndReceive();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return got == count ? count / seconds : 0;
}

long ResidentKb() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

struct Row {
    std::string what;
    Latency plain, library;
    double plainRate = 0, libraryRate = 0;
};

Row Measure(const std::string& what, const std::string& folder, const std::string& certs, int tlsReadMode,
            int rttCount, int streamCount) {
    Row row{what, {}, {}, 0, 0};
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
        devkit::EchoPeer peer(cert, key);
        LibraryClient lib(folder, peer.port(), certs, tlsReadMode);
        row.library = RoundTrips(rttCount, [&](const std::string& b) {
            std::string back;
            return lib.SendData(b.data(), static_cast<int>(b.size()), 0, nullptr, 0) > 0 && lib.Recv(&back) &&
                   back == b;
        });
    }
    {
        devkit::EchoPeer peer(cert, key);
        peer.SetGreeting(Frame(kb), streamCount);
        row.plainRate = Throughput(streamCount, [&] {
            PlainClient c(peer.port(), tls);
            int got = 0;
            std::string body;
            while (got < streamCount && c.RecvFrame(&body) && body == kb) ++got;
            return got;
        });
    }
    {
        devkit::EchoPeer peer(cert, key);
        peer.SetGreeting(Frame(kb), streamCount);
        row.libraryRate = Throughput(streamCount, [&] {
            LibraryClient lib(folder, peer.port(), certs, tlsReadMode);
            int got = 0;
            std::string body;
            while (got < streamCount && lib.Recv(&body) && body == kb) ++got;
            return got;
        });
    }
    return row;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/tolvane-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern, certs = folder + "/certs";
    if (std::system(("mkdir -p '" + certs + "'").c_str()) != 0) return 1;
    devkit::WriteStandardCerts(certs);

    long before = ResidentKb();
    auto* one = new CITolvane();
    long after = ResidentKb();

    std::vector<Row> rows = {
        Measure("plain TCP", folder, "", 0, 2000, 20000),
        Measure("TLS, polling reads", folder, certs, 0, 40, 300),
        Measure("TLS, reads on events", folder, certs, 1, 2000, 20000),
    };
    delete one;

    std::printf("Round trip of 100-byte messages (header mode 5), microseconds\n");
    std::printf("%-22s %10s %10s %10s %10s %8s %8s\n", "", "plain p50", "plain p99", "lib p50", "lib p99", "x p50",
                "x p99");
    for (const Row& r : rows)
        std::printf("%-22s %10.1f %10.1f %10.1f %10.1f %8.2f %8.2f\n", r.what.c_str(), r.plain.p50, r.plain.p99,
                    r.library.p50, r.library.p99, r.library.p50 / r.plain.p50, r.library.p99 / r.plain.p99);
    std::printf("\nOne-way throughput of 1 KB messages taken with RecvData, messages per second\n");
    std::printf("%-22s %12s %12s %8s\n", "", "plain", "library", "share");
    for (const Row& r : rows)
        std::printf("%-22s %12.0f %12.0f %7.0f%%\n", r.what.c_str(), r.plainRate, r.libraryRate,
                    r.plainRate > 0 ? 100.0 * r.libraryRate / r.plainRate : 0.0);
    std::printf("\nResident memory of one idle CITolvane: %ld KB\n", after - before);
    std::printf("Trace files: %s/Log/\n", folder.c_str());
    return 0;
}
