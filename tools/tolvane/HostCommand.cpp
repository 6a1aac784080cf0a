// `tolvane client` and `tolvane server`: run a library client or server,
// print its events and every received message, and send each line of
// standard input as one message.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <Tolvane.h>

#include "Commands.h"
#include "HostConfig.h"
#include "ToolKeys.h"
#include "TraceWatch.h"

namespace {

using namespace std::chrono_literals;

// The library's trace file name, which the command leaves as it is.
const char* const kTraceName = "Tolvane";

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

// While the client runs, tells the user why its connects fail: the library
// traces the first failure of an outage and then one every 30 s.
class ConnectFailureReporter {
public:
    explicit ConnectFailureReporter(const std::string& logFolder)
        : m_watch(logFolder, kTraceName), m_thread([this] { Run(); }) {}
    ~ConnectFailureReporter() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_wake.wait_for(lock, 200ms, [this] { return m_stop; })) {
            for (const std::string& record : m_watch.NewRecords()) {
                std::string host;
                const std::string reason = FailureOf(record, "Connect Fail.", &host);
                if (!reason.empty()) Print("cannot connect to " + host + ": " + reason + ", trying again");
            }
        }
    }

    TraceWatch m_watch;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // last: starts once the rest is ready
};

// Why the server could not listen, from the records of its attempts.
std::string ListenFailure(TraceWatch& watch, int port) {
    std::string reason = "see the trace";
    for (const std::string& record : watch.NewRecords()) {
        std::string where;
        for (const char* marker : {"Create Socket Fail.ServerPort=", "Listen Fail, ServerPort="}) {
            const std::string found = FailureOf(record, marker, &where);
            if (!found.empty()) reason = found;
        }
    }
    return "cannot listen on port " + std::to_string(port) + ": " + reason;
}

// A line is sent once there is a connection (client) or a peer (server).
bool WaitConnected(CITolvane& host) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (host.GetNetworkStatus() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    return host.GetNetworkStatus() == 0;
}

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) { g_interrupted = 1; }

void ServeUntilInterrupted() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    Print("end of input: still echoing until interrupted");
    while (!g_interrupted) std::this_thread::sleep_for(100ms);
}

// Sends each line of standard input; false when one could not be sent.
bool SendInputLines(CITolvane& host, bool server) {
    bool allSent = true;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!WaitConnected(host)) {
            Print(std::string("not sent, ") + (server ? "no peer connected: " : "not connected: ") + line);
            allSent = false;
        } else if (host.SendData(line.data(), static_cast<int>(line.size()), 0, nullptr, 0) < 0) {
            Print("send failed: " + line);
            allSent = false;
        }
    }
    return allSent;
}

}  // namespace

int RunHost(const HostOptions& options, bool server) {
    HostConfig config;
    const std::string problem =
        CheckHostConfig(options.config.empty() ? "NetWork.ini" : options.config, server, options.session, &config);
    if (!problem.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
        return 1;
    }
    std::error_code ec;
    const std::string logFolder = std::filesystem::absolute(options.log.empty() ? "Log" : options.log, ec).string() + "/";
    std::vector<std::string> added;
    const std::string copyProblem = TurnOnToolKeys(&config, logFolder, &added);
    if (!copyProblem.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", copyProblem.c_str());
        return 1;
    }
    if (!added.empty()) {
        std::string keys;
        for (const std::string& key : added) keys += (keys.empty() ? "" : ", ") + key + "=1";
        Print("note: " + keys + " added to [" + config.section + "] (see SESSION KEYS in tolvane --help); " +
              "the library reads " + config.file);
    }
    PrintingHost host(options);
    host.SetConfigPathName(config.file.c_str());
    host.SetLogPath(logFolder.c_str());
    TraceWatch listenTrace(logFolder, kTraceName);
    std::unique_ptr<ConnectFailureReporter> reporter;
    if (!server) reporter = std::make_unique<ConnectFailureReporter>(logFolder);
    if (host.StartTolvane(server ? 1 : 0, options.session) != 0) {
        reporter.reset();
        std::fprintf(stderr, "tolvane: %s\n",
                     server ? ListenFailure(listenTrace, config.port).c_str() : "the client did not start");
        return 1;
    }
    // Messages are printed as they arrive; nothing is queued. Set after the
    // start, which chooses the side this call reaches.
    host.SetRecvDataType(1);
    if (server) {
        Print("listening on port " + std::to_string(config.port));
        if (config.splitReads == 0)
            Print("note: \"SplitReads\" is 0 in [" + config.section +
                  "]: of the messages a peer sends in one read only the first is delivered; "
                  "add SplitReads=1 to that section to keep every message");
    }
    const bool allSent = SendInputLines(host, server);
    if (server && options.echo) ServeUntilInterrupted();
    host.StopTolvane();
    return allSent ? 0 : 1;
}
