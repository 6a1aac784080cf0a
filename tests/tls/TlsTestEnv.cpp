#include "tls/TlsTestEnv.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/Paths.h"

namespace tlstest {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void SetTimeouts(int fd) {
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

int ListenLoopback(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
        ADD_FAILURE() << "cannot listen on loopback";
        return fd;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

int ConnectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect failed";
    SetTimeouts(fd);
    return fd;
}

LoopbackPair::LoopbackPair() {
    int port = 0;
    int listener = ListenLoopback(&port);
    m_client = ConnectLoopback(port);
    m_server = accept(listener, nullptr, nullptr);
    close(listener);
    SetTimeouts(m_server);
}

LoopbackPair::~LoopbackPair() {
    if (m_client >= 0) close(m_client);
    CloseServer();
}

void LoopbackPair::ShutdownServer() {
    if (m_server >= 0) shutdown(m_server, SHUT_RDWR);
}

void LoopbackPair::CloseServer() {
    if (m_server >= 0) close(m_server);
    m_server = -1;
}

int LoopbackPair::ReleaseServer() {
    int fd = m_server;
    m_server = -1;
    return fd;
}

void LoopbackPair::MoveServerTo(int fd) {
    if (m_server < 0 || m_server == fd) return;
    dup2(m_server, fd);
    close(m_server);
    m_server = fd;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

int FreeLoopbackPort() {
    int port = 0;
    int fd = ListenLoopback(&port);
    close(fd);
    return port;
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

std::vector<std::string> LogRecords(const CTraceLog& log) {
    std::string content = testsupport::ReadTextFile(log.CurrentLogFile());
    static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} :)");
    std::vector<std::string> records;
    std::vector<std::pair<size_t, size_t>> starts;  // position, length of the stamp
    for (auto it = std::sregex_iterator(content.begin(), content.end(), stamp); it != std::sregex_iterator(); ++it) {
        starts.emplace_back(static_cast<size_t>(it->position()), static_cast<size_t>(it->length()));
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t begin = starts[i].first + starts[i].second;
        size_t end = i + 1 < starts.size() ? starts[i + 1].first : content.size();
        std::string text = content.substr(begin, end - begin);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        records.push_back(text);
    }
    return records;
}

bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected) {
    auto at = records.begin();
    for (const std::string& e : expected) {
        at = std::find(at, records.end(), e);
        if (at == records.end()) return false;
        ++at;
    }
    return true;
}

bool Has(const std::vector<std::string>& records, const std::string& text) { return Count(records, text) > 0; }

int Count(const std::vector<std::string>& records, const std::string& text) {
    return static_cast<int>(std::count(records.begin(), records.end(), text));
}

std::string FindPrefix(const std::vector<std::string>& records, const std::string& prefix) {
    for (const std::string& r : records) {
        if (r.compare(0, prefix.size(), prefix) == 0) return r;
    }
    return std::string();
}

EchoServer::EchoServer(OSSL& ossl, LoopbackPair& pair, const std::string& config) : m_pair(pair) {
    int fd = pair.server();
    m_thread = std::thread([this, &ossl, fd, config] {
        ossl.iSSLAccept(static_cast<SOCKET>(fd), config.c_str());
        char buf[4096];
        for (;;) {
            int n = ossl.iSSLReceive(buf, sizeof buf);
            if (n <= 0) break;
            m_received.append(buf, static_cast<size_t>(n));
            ossl.iSSLSend(buf, n);
        }
    });
}

EchoServer::~EchoServer() {
    m_pair.ShutdownServer();
    Finish();
}

void EchoServer::Finish() {
    if (m_thread.joinable()) m_thread.join();
}

void TlsTest::SetUp() {
    m_dir = std::make_unique<testsupport::TempDir>();
    platform::SetModuleFileNameForTest(m_dir->file("host"));
    std::string certs = m_dir->file("certs");
    mkdir(certs.c_str(), 0755);
    m_certs = devkit::WriteStandardCerts(certs);
    m_clientLog.SetLogPath((m_dir->file("clientlog") + "/").c_str());
    m_serverLog.SetLogPath((m_dir->file("serverlog") + "/").c_str());
    m_client.SetClientOwner(&m_clientLog);
    m_server.SetServerOwner(&m_serverLog);
}

void TlsTest::TearDown() {
    m_client.CloseSSL();
    m_server.CloseSSL();
    platform::SetModuleFileNameForTest(std::string());
}

std::string TlsTest::WriteConfig(const std::string& name, const Keys& keys) {
    std::string text = "[SSLConfig]\r\n";
    for (const auto& kv : keys) {
        if (kv.second != kAbsent) text += kv.first + "=" + kv.second + "\r\n";
    }
    std::string path = m_dir->file(name);
    testsupport::WriteTextFile(path, text);
    return path;
}

namespace {
Keys Merge(Keys base, const Keys& overrides) {
    for (const auto& kv : overrides) {
        auto same = std::find_if(base.begin(), base.end(), [&](const auto& b) { return b.first == kv.first; });
        if (same != base.end()) {
            same->second = kv.second;
        } else {
            base.push_back(kv);
        }
    }
    return base;
}

const Keys kBaseKeys = {
    {"UseSSL", "1"},
    {"CA", "\\certs\\CACert.pem"},
    {"ServerCA", "\\certs\\ServerCACert.pem"},
    {"ServerKEY", "\\certs\\ServerKey.pem"},
};
}  // namespace

std::string TlsTest::ServerConfig(const Keys& overrides) {
    return WriteConfig("server.ini", Merge(kBaseKeys, overrides));
}

std::string TlsTest::ClientConfig(const Keys& overrides) {
    return WriteConfig("client.ini", Merge(Merge(kBaseKeys, {{"PeerCerMustBeValid", "1"}}), overrides));
}

int TlsTest::Connect(OSSL& client, const std::string& clientConfig, OSSL& server, const std::string& serverConfig,
                     std::unique_ptr<LoopbackPair>& pair, std::unique_ptr<EchoServer>& echo) {
    echo.reset();
    pair = std::make_unique<LoopbackPair>();
    echo = std::make_unique<EchoServer>(server, *pair, serverConfig);
    return client.iSSLConnect(static_cast<SOCKET>(pair->client()), clientConfig.c_str());
}

}  // namespace tlstest
