#pragma once
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "devkit/CertKit.h"
#include "log/TraceLog.h"
#include "support/TestSupport.h"
#include "tls/OSSL.h"

namespace tlstest {

// Loopback sockets: a listener on an ephemeral port (stored in `port`), and
// a blocking client with 5 s send and receive time-outs, so that no TLS call
// of a test can wait for ever.
int ListenLoopback(int* port);
int ConnectLoopback(int port);
bool WaitReadable(int fd, int ms);
void SetNonBlocking(int fd);

// A connected loopback TCP pair, both ends made by ConnectLoopback's rules.
struct LoopbackPair {
    LoopbackPair();
    ~LoopbackPair();
    void CloseServer();
    int client = -1;
    int server = -1;
};

// The records of a trace file without time stamp and closing CR LF.
std::vector<std::string> LogRecords(const CTraceLog& log);
// True when records match `expected` in this order (others between). A
// record matches an entry exactly, or ends with it when it starts with '*'.
bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected);
int Count(const std::vector<std::string>& records, const std::string& text);
std::string FindPrefix(const std::vector<std::string>& records, const std::string& prefix);

using Keys = std::vector<std::pair<std::string, std::string>>;

// A temporary folder posing as the executable's folder, with the standard
// certificates in "certs" and a trace log each for client and server.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes "[SSLConfig]" with `keys` into the file `name`; returns its path.
    std::string WriteConfig(const std::string& name, const Keys& keys);
    // "server.ini" and "client.ini": "UseSSL" 1 with the default certificate
    // paths (the client adds "PeerCerMustBeValid" 1), then `keys`; of
    // entries with the same key the last one counts.
    std::string ServerConfig(const Keys& keys = {});
    std::string ClientConfig(const Keys& keys = {});

    // On a fresh pair m_server accepts and echoes on a thread of its own
    // while m_client connects; returns iSSLConnect's result.
    int Connect(const std::string& clientConfig, const std::string& serverConfig);
    // Shuts the server end down and joins the echo thread.
    void StopEcho();
    void ExpectEcho(const std::string& text);

    std::vector<std::string> ClientRecords() const { return LogRecords(m_clientLog); }
    std::vector<std::string> ServerRecords() const { return LogRecords(m_serverLog); }

    std::unique_ptr<testsupport::TempDir> m_dir;
    devkit::TestCertFiles m_certs;
    CTraceLog m_clientLog;
    CTraceLog m_serverLog;
    OSSL m_client;
    OSSL m_server;
    std::unique_ptr<LoopbackPair> m_pair;
    std::thread m_echo;
};

}  // namespace tlstest
