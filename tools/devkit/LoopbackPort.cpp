#include "devkit/LoopbackPort.h"

#include <chrono>
#include <random>
#include <thread>

#include "devkit/SocketCompat.h"

namespace devkit {

namespace {

constexpr int kFirstPort = 20000;
constexpr int kPorts = 12000;  // up to 31999

// Whether a socket could bind 127.0.0.1:`port` just now (0: any port, which
// is then returned through `port`).
bool Binds(int* port) {
    int fd = net::TcpSocket(false);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(*port));
    net::SockLen len = sizeof addr;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    if (bound) *port = ntohs(addr.sin_port);
    net::Close(fd);
    return bound;
}

}  // namespace

int FreeLoopbackPort() {
    // Seeded per thread from the clock and the thread, so that test
    // processes started together do not try the same ports in turn.
    thread_local std::minstd_rand random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^
        std::hash<std::thread::id>()(std::this_thread::get_id()) ^ std::random_device()()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        int port = kFirstPort + static_cast<int>(random() % kPorts);
        if (Binds(&port)) return port;
    }
    int port = 0;  // all tried were taken: any free port
    return Binds(&port) ? port : 0;
}

}  // namespace devkit
