// `tolvane client`: runs a library client, prints its events and every
// received message, and sends each line of standard input as one message.
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include <Tolvane.h>

#include "Commands.h"

namespace {

std::mutex g_outputLock;

class PrintingHost : public CITolvane {
public:
    explicit PrintingHost(bool hex) : m_hex(hex) {}

    void OnConnect(int) override { Print("connected"); }
    void OnClose(int error) override { Print("closed (error " + std::to_string(error) + ")"); }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        std::string text;
        if (m_hex) {
            static const char digits[] = "0123456789ABCDEF";
            for (unsigned long i = 0; i < len; ++i) {
                if (i) text += ' ';
                text += digits[data[i] >> 4];
                text += digits[data[i] & 15];
            }
        } else {
            text.assign(reinterpret_cast<const char*>(data), len);
        }
        Print("received " + std::to_string(len) + " bytes: " + text);
    }

    static void Print(const std::string& line) {
        std::lock_guard<std::mutex> lock(g_outputLock);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    bool m_hex;
};

}  // namespace

int RunClient(const ClientOptions& options) {
    PrintingHost host(options.hex);
    if (!options.config.empty()) host.SetConfigPathName(options.config.c_str());
    host.SetRecvDataType(1);  // messages are printed as they arrive; nothing is queued
    if (host.StartTolvane(0, options.session) != 0) {
        std::fprintf(stderr,
                     "tolvane: cannot start: section TcpClientSession-%d of %s needs \"ip\" and a nonzero \"port\"\n",
                     options.session, options.config.empty() ? "NetWork.ini" : options.config.c_str());
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (host.SendData(line.data(), static_cast<int>(line.size()), 0, nullptr, 0) < 0)
            PrintingHost::Print("send failed (not connected?)");
    }
    host.StopTolvane();
    return 0;
}
