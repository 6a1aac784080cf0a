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
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 1) != 0) ADD_FAILURE() << "no listener";
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

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

LoopbackPair::LoopbackPair() {
    int port = 0;
    int listener = ListenLoopback(&port);
    client = ConnectLoopback(port);
    server = accept(listener, nullptr, nullptr);
    close(listener);
    SetTimeouts(server);
}

LoopbackPair::~LoopbackPair() {
    close(client);
    CloseServer();
}

void LoopbackPair::CloseServer() {
    if (server >= 0) close(server);
    server = -1;
}

std::vector<std::string> LogRecords(const CTraceLog& log) {
    static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} :)");
    std::string content = testsupport::ReadTextFile(log.CurrentLogFile());
    std::vector<std::string> records;
    for (std::sregex_token_iterator it(content.begin(), content.end(), stamp, -1), end; it != end; ++it) {
        std::string text = *it;
        if (it->first == content.begin()) continue;  // before the first stamp
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        records.push_back(text);
    }
    return records;
}

bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected) {
    auto at = records.begin();
    for (const std::string& e : expected) {
        at = std::find_if(at, records.end(), [&](const std::string& r) {
            if (e.empty() || e[0] != '*') return r == e;
            return r.size() >= e.size() - 1 && r.compare(r.size() - (e.size() - 1), e.size() - 1, e, 1) == 0;
        });
        if (at == records.end()) return false;
        ++at;
    }
    return true;
}

int Count(const std::vector<std::string>& records, const std::string& text) {
    return static_cast<int>(std::count(records.begin(), records.end(), text));
}

std::string FindPrefix(const std::vector<std::string>& records, const std::string& prefix) {
    for (const std::string& r : records) {
        if (r.compare(0, prefix.size(), prefix) == 0) return r;
    }
    return std::string();
}

void TlsTest::SetUp() {
    m_dir = std::make_unique<testsupport::TempDir>();
    platform::SetModuleFileNameForTest(m_dir->file("host"));
    mkdir(m_dir->file("certs").c_str(), 0755);
    m_certs = devkit::WriteStandardCerts(m_dir->file("certs"));
    m_clientLog.SetLogPath((m_dir->file("clientlog") + "/").c_str());
    m_serverLog.SetLogPath((m_dir->file("serverlog") + "/").c_str());
    m_client.SetClientOwner(&m_clientLog);
    m_server.SetServerOwner(&m_serverLog);
}

void TlsTest::TearDown() {
    StopEcho();
    m_client.CloseSSL();
    m_server.CloseSSL();
    platform::SetModuleFileNameForTest(std::string());
}

std::string TlsTest::WriteConfig(const std::string& name, const Keys& keys) {
    std::string text = "[SSLConfig]\r\n";
    for (auto kv = keys.begin(); kv != keys.end(); ++kv) {  // a later entry of a key replaces an earlier one
        auto same = [&](const auto& other) { return other.first == kv->first; };
        if (std::none_of(kv + 1, keys.end(), same)) text += kv->first + "=" + kv->second + "\r\n";
    }
    testsupport::WriteTextFile(m_dir->file(name), text);
    return m_dir->file(name);
}

std::string TlsTest::ServerConfig(const Keys& keys) {
    Keys all = {{"UseSSL", "1"}};
    all.insert(all.end(), keys.begin(), keys.end());
    return WriteConfig("server.ini", all);
}

std::string TlsTest::ClientConfig(const Keys& keys) {
    Keys all = {{"UseSSL", "1"}, {"PeerCerMustBeValid", "1"}};
    all.insert(all.end(), keys.begin(), keys.end());
    return WriteConfig("client.ini", all);
}

int TlsTest::Connect(const std::string& clientConfig, const std::string& serverConfig) {
    StopEcho();
    m_pair = std::make_unique<LoopbackPair>();
    m_echo = std::thread([this, fd = m_pair->server, serverConfig] {
        m_server.iSSLAccept(static_cast<SOCKET>(fd), serverConfig.c_str());
        char buf[4096];
        for (int n; (n = m_server.iSSLReceive(buf, sizeof buf)) > 0;) m_server.iSSLSend(buf, n);
    });
    return m_client.iSSLConnect(static_cast<SOCKET>(m_pair->client), clientConfig.c_str());
}

void TlsTest::StopEcho() {
    if (m_pair && m_pair->server >= 0) shutdown(m_pair->server, SHUT_RDWR);
    if (m_echo.joinable()) m_echo.join();
}

void TlsTest::ExpectEcho(const std::string& text) {
    ASSERT_EQ(static_cast<int>(text.size()), m_client.iSSLSend(text.data(), static_cast<int>(text.size())));
    std::string back;
    char buf[4096];
    while (back.size() < text.size()) {
        int n = m_client.iSSLReceive(buf, sizeof buf);
        ASSERT_GT(n, 0);
        back.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(text, back);
}

}  // namespace tlstest
