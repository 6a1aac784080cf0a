// A Windows host built against the installed package alone. It reads the
// NetWork.ini beside its executable and traces into Log\ beside it:
//   winhost client FRAMING   connects, sends one message, expects it back
//   winhost server           echoes the first message of its first peer
#include <Tolvane.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

class Host : public CITolvane {
public:
    void OnConnect(int) override { Set(true); }
    void OnClose(int) override { Set(false); }
    bool WaitConnected(int ms) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_change.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_connected; });
    }

private:
    void Set(bool up) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_connected = up;
        m_change.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_change;
    bool m_connected = false;
};

static unsigned char g_buf[102400];  // RecvData may write 102400 bytes

static int RunClient(Host& host, int framing) {
    std::string message = "hello from windows, framing " + std::to_string(framing);
    if (framing == 6) message += '\x03';  // framing 6 ends at this byte, which the host sends
    if (!host.WaitConnected(20000)) return std::fprintf(stderr, "not connected\n"), 10;
    if (host.SendData(message.data(), static_cast<int>(message.size()), 0, nullptr, 0) <= 0) return 11;
    int len = 0;
    if (host.RecvData(g_buf, &len, 10000) != 0) return std::fprintf(stderr, "no answer\n"), 12;
    if (std::string(reinterpret_cast<char*>(g_buf), static_cast<size_t>(len)) != message) {
        std::fprintf(stderr, "answer differs: %.*s\n", len, reinterpret_cast<char*>(g_buf));
        return 13;
    }
    std::printf("client echo ok\n");
    return 0;
}

static int RunServer(Host& host) {
    if (!host.WaitConnected(20000)) return std::fprintf(stderr, "no peer\n"), 20;
    int len = 0;
    if (host.RecvData(g_buf, &len, 10000) != 0) return std::fprintf(stderr, "no message\n"), 21;
    if (host.SendData(g_buf, len, 0, nullptr, 0) <= 0) return 22;
    std::printf("server echo ok\n");
    return 0;
}

int main(int argc, char** argv) {
    const bool client = argc == 3 && std::strcmp(argv[1], "client") == 0;
    const bool server = argc == 2 && std::strcmp(argv[1], "server") == 0;
    if (!client && !server) {
        std::fprintf(stderr, "usage: winhost client FRAMING | winhost server\n");
        return 2;
    }
    Host host;
    if (host.StartTolvane(client ? 0 : 1, 0) != 0) return 3;
    const int result = client ? RunClient(host, std::atoi(argv[2])) : RunServer(host);
    host.StopTolvane();
    return result;
}
