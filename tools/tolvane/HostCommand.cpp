// `tolvane client` and `tolvane server`: run a library client or server,
// print its events and every received message, and send each line of
// standard input as one message.
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include <Tolvane.h>

#include "Commands.h"

namespace {

std::mutex g_outputLock;

void Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string Shown(const unsigned char* data, unsigned long len, bool hex) {
    if (!hex) return std::string(reinterpret_cast<const char*>(data), len);
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned long i = 0; i < len; ++i) {
        if (i) text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

class PrintingHost : public CITolvane {
public:
    explicit PrintingHost(const HostOptions& options) : m_options(options) {}

    void OnConnect(int) override { Print("connected"); }
    void OnClose(int error) override { Print("closed (error " + std::to_string(error) + ")"); }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        Print("received " + std::to_string(len) + " bytes: " + Shown(data, len, m_options.hex));
        if (m_options.echo && SendData(data, static_cast<int>(len), 0, nullptr, 0) < 0) Print("echo failed");
    }

private:
    const HostOptions& m_options;
};

}  // namespace

int RunHost(const HostOptions& options, bool server) {
    PrintingHost host(options);
    if (!options.config.empty()) host.SetConfigPathName(options.config.c_str());
    const char* file = options.config.empty() ? "NetWork.ini" : options.config.c_str();
    if (host.StartTolvane(server ? 1 : 0, options.session) != 0) {
        if (server) {
            std::fprintf(stderr, "tolvane: cannot listen on the \"port\" of section TcpServerSession-%d of %s\n",
                         options.session, file);
        } else {
            std::fprintf(stderr,
                         "tolvane: cannot start: section TcpClientSession-%d of %s needs \"ip\" and a nonzero \"port\"\n",
                         options.session, file);
        }
        return 1;
    }
    // Messages are printed as they arrive; nothing is queued. Set after the
    // start, which chooses the side this call reaches.
    host.SetRecvDataType(1);
    if (server) Print("listening");
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (host.SendData(line.data(), static_cast<int>(line.size()), 0, nullptr, 0) < 0)
            Print("send failed (not connected?)");
    }
    host.StopTolvane();
    return 0;
}
