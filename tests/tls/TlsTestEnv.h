#pragma once
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "log/TraceLog.h"
#include "support/TestSupport.h"
#include "devkit/CertKit.h"
#include "tls/OSSL.h"

namespace tlstest {

// A connected loopback TCP pair. Both ends are blocking with 5 s send and
// receive time-outs, so no TLS call in a test can wait for ever.
class LoopbackPair {
public:
    LoopbackPair();
    ~LoopbackPair();
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;
    int client() const { return m_client; }
    int server() const { return m_server; }
    void ShutdownServer();  // makes the server end's blocked reads return
    void CloseServer();     // the peer vanishes without a TLS close
    // Gives up the server end without closing it; returns its descriptor.
    int ReleaseServer();
    // Gives the server end the descriptor number `fd`, closing what `fd`
    // referred to (dup2), so a new socket takes over an old one's number.
    void MoveServerTo(int fd);

private:
    int m_client = -1;
    int m_server = -1;
};

void SetNonBlocking(int fd);
// A listening socket on 127.0.0.1 with an ephemeral port (stored in `port`).
int ListenLoopback(int* port);
// A blocking socket connected to 127.0.0.1:`port`, with 5 s time-outs.
int ConnectLoopback(int port);
// A loopback port that was free a moment ago.
int FreeLoopbackPort();
// Waits until `fd` is readable; false when `ms` passed.
bool WaitReadable(int fd, int ms);

// The texts of the records of a trace file, in order, without the time
// stamp and the record's closing CR LF.
std::vector<std::string> LogRecords(const CTraceLog& log);
// True when `expected` occur in `records` in this order (others between).
bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected);
bool Has(const std::vector<std::string>& records, const std::string& text);
int Count(const std::vector<std::string>& records, const std::string& text);
// The first record starting with `prefix`, or "" when there is none.
std::string FindPrefix(const std::vector<std::string>& records, const std::string& prefix);

// The server side of an in-process handshake on its own thread: iSSLAccept
// on the server end, then echo every message until the peer closes or the
// time-out ends the read. The destructor shuts the socket down and joins.
class EchoServer {
public:
    EchoServer(OSSL& ossl, LoopbackPair& pair, const std::string& config);
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;
    // Joins the thread; afterwards received() may be read.
    void Finish();
    const std::string& received() const { return m_received; }

private:
    LoopbackPair& m_pair;
    std::string m_received;
    std::thread m_thread;
};

// Key and value lines of the section "SSLConfig", in file order.
using Keys = std::vector<std::pair<std::string, std::string>>;
constexpr const char* kAbsent = "<absent>";  // as a value: leave the key out

// Base of the TLS tests: a temporary folder posing as the executable's
// folder, with the standard certificates in its "certs" folder, and a client
// and a server trace log in folders of their own.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes "[SSLConfig]" with `keys` into the file `name` of the folder;
    // returns its path.
    std::string WriteConfig(const std::string& name, const Keys& keys);
    // "server.ini": TLS on with the standard CA file, server certificate and
    // key; `overrides` replace keys of the same name (kAbsent removes one)
    // and add the others.
    std::string ServerConfig(const Keys& overrides = {});
    // "client.ini": the same base (the server's certificate serves as the
    // client's own) with "PeerCerMustBeValid" 1.
    std::string ClientConfig(const Keys& overrides = {});

    // Runs a client handshake against an in-process server; the client may
    // then exchange data. Returns iSSLConnect's result.
    int Connect(OSSL& client, const std::string& clientConfig, OSSL& server, const std::string& serverConfig,
                std::unique_ptr<LoopbackPair>& pair, std::unique_ptr<EchoServer>& echo);

    std::vector<std::string> ClientRecords() const { return LogRecords(m_clientLog); }
    std::vector<std::string> ServerRecords() const { return LogRecords(m_serverLog); }

    std::unique_ptr<testsupport::TempDir> m_dir;
    devkit::TestCertFiles m_certs;
    CTraceLog m_clientLog;
    CTraceLog m_serverLog;
    OSSL m_client;
    OSSL m_server;
};

}  // namespace tlstest
