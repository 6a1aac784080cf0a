// The TLS layer between two objects over loopback TCP: reading "SSLConfig"
// and building the context, client and server handshakes, and one connection
// used from several threads at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "devkit/SocketCompat.h"
#include "log/TraceLog.h"
#include "platform/Paths.h"
#include "platform/Sockets.h"
#include "support/Harness.h"
#include "tls/OSSL.h"

namespace {

void SetNonBlocking(int fd) { devkit::net::SetNonBlocking(fd, true); }

// The texts of the records of a trace file, in order. A record is
// "<time stamp> :<text>\r\n", and no text holds CR LF.
std::vector<std::string> LogRecords(const CTraceLog& log) {
    std::string content = testsupport::ReadTextFile(log.CurrentLogFile());
    std::vector<std::string> records;
    for (size_t at = 0, end; (end = content.find("\r\n", at)) != std::string::npos; at = end + 2) {
        size_t text = content.find(" :", at) + 2;
        records.push_back(content.substr(text, end - text));
    }
    return records;
}

// True when records match `expected` in this order (others between). An
// entry matches a record exactly; one with a '*' matches every record that
// starts with the text before it and ends with the text after it.
bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected) {
    auto at = records.begin();
    for (const std::string& e : expected) {
        size_t star = e.find('*');
        at = std::find_if(at, records.end(), [&](const std::string& r) {
            if (star == std::string::npos) return r == e;
            size_t tail = e.size() - star - 1;
            return r.size() > star + tail && r.compare(0, star, e, 0, star) == 0 &&
                   r.compare(r.size() - tail, tail, e, star + 1, tail) == 0;
        });
        if (at == records.end()) return false;
        ++at;
    }
    return true;
}

int Count(const std::vector<std::string>& records, const std::string& text) {
    return static_cast<int>(std::count(records.begin(), records.end(), text));
}

// Reads from `ossl` until a line feed came or about 5 s passed (a read on a
// blocking socket waits for at most its time-out).
std::string ReadLine(OSSL& ossl) {
    std::string text;
    char buf[4096];
    testsupport::WaitUntil([&] {
        int n = ossl.iSSLReceive(buf, sizeof buf);
        if (n > 0) text.append(buf, static_cast<size_t>(n));
        return text.find('\n') != std::string::npos;
    });
    return text;
}

using Keys = std::vector<std::pair<std::string, std::string>>;

// A temporary folder posing as the executable's folder, with the standard
// certificates in "certs", and a trace log each for client and server.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_clientLog.SetLogPath(m_dir.file("clientlog/").c_str());
        m_serverLog.SetLogPath(m_dir.file("serverlog/").c_str());
        m_client.SetClientOwner(&m_clientLog);
        m_server.SetServerOwner(&m_serverLog);
    }
    void TearDown() override {
        StopEcho();
        m_client.CloseSSL();
    }

    // Writes "[SSLConfig]" with `keys`, then `more`, into the file `name`;
    // returns its path. Of entries with the same key the first counts.
    std::string WriteConfig(const std::string& name, const Keys& keys, const Keys& more = {}) {
        std::string text = "[SSLConfig]\r\n";
        for (const Keys* list : {&keys, &more}) {
            for (const auto& kv : *list) text += kv.first + "=" + kv.second + "\r\n";
        }
        testsupport::WriteTextFile(m_dir.file(name), text);
        return m_dir.file(name);
    }
    // "server.ini" and "client.ini": `keys`, then "UseSSL" 1 (and for the
    // client "PeerCerMustBeValid" 1); the certificate paths are the defaults.
    std::string ServerConfig(const Keys& keys = {}) { return WriteConfig("server.ini", keys, {{"UseSSL", "1"}}); }
    std::string ClientConfig(const Keys& keys = {}) {
        return WriteConfig("client.ini", keys, {{"UseSSL", "1"}, {"PeerCerMustBeValid", "1"}});
    }

    // On a fresh loopback pair (blocking, with 5 s time-outs) m_server accepts
    // and echoes on a thread of its own while m_client connects; returns
    // iSSLConnect's result. Given a descriptor number, the server end takes it
    // over (dup2).
    int Connect(const std::string& clientConfig, const std::string& serverConfig, int number = -1) {
        StopEcho();
        EXPECT_TRUE(m_clientEnd.Connect(m_serverEnd.port()) && m_serverEnd.Accept()) << "no loopback pair";
        if (number >= 0 && dup2(m_serverEnd.fd(), number) == number) m_serverEnd.Adopt(number);
        m_clientEnd.MakeBlocking();
        m_serverEnd.MakeBlocking();
        m_echo = std::thread([this, fd = m_serverEnd.fd(), serverConfig] {
            m_server.iSSLAccept(static_cast<platform::SOCKET>(fd), serverConfig.c_str());
            char buf[4096];
            for (int n; (n = m_server.iSSLReceive(buf, sizeof buf)) > 0;) m_server.iSSLSend(buf, n);
        });
        return m_client.iSSLConnect(static_cast<platform::SOCKET>(m_clientEnd.fd()), clientConfig.c_str());
    }
    // Ends the server side: wakes the echo thread's read (the platform's
    // shutdown also cancels a pending Winsock read) and joins it, then
    // releases the server's TLS connection and closes the socket, which no
    // thread uses any more.
    void StopEcho() {
        if (!m_serverEnd.IsOpen()) return;
        platform::shutdown(static_cast<platform::SOCKET>(m_serverEnd.fd()), platform::kSdBoth);
        if (m_echo.joinable()) m_echo.join();
        m_server.CloseSSL();
        m_serverEnd.Close();
    }
    // Sends `line` (ending in a line feed) and expects it back.
    void ExpectEcho(const std::string& line) {
        ASSERT_EQ(static_cast<int>(line.size()), m_client.iSSLSend(line.data(), static_cast<int>(line.size())));
        EXPECT_EQ(line, ReadLine(m_client));
    }

    std::vector<std::string> ClientRecords() const { return LogRecords(m_clientLog); }
    std::vector<std::string> ServerRecords() const { return LogRecords(m_serverLog); }
    // A file below "certs" as the library names it: the executable's folder
    // and "\certs\<name>" with the platform's separators.
    std::string Certs(const std::string& name) const { return NativePath(m_dir.path(), "/certs/" + name); }
    static std::string NativePath(const std::string& folder, std::string tail) {
        std::replace(tail.begin(), tail.end(), '/', platform::PathSeparator());
        return folder + tail;
    }

    testsupport::TempDir m_dir;
    testsupport::ExeFolder m_exe{m_dir};
    CTraceLog m_clientLog;
    CTraceLog m_serverLog;
    OSSL m_client;
    OSSL m_server;
    testsupport::TcpConnection m_clientEnd;
    testsupport::LoopbackPeer m_serverEnd;
    std::thread m_echo;
};

class OsslConfigTest : public TlsTest {
protected:
    int LoadServer(const Keys& keys) { return m_server.iLoadParameters(ServerConfig(keys).c_str(), 0); }
};

TEST_F(OsslConfigTest, UseSslZeroOrMissingReadsNothingElse) {
    Keys keys = {{"UseSSL", "0"}, {"CA", "\\x\\ca.pem"}, {"PeerCerSubject", "/CN=x"}, {"SSLMethod", "TLSv1.3"}};
    EXPECT_EQ(1, m_client.iLoadParameters(WriteConfig("n.ini", keys).c_str(), 1));
    EXPECT_EQ("", std::string(m_client.CAPath()) + m_client.ExpectedSubject() + m_client.MethodName());
    EXPECT_TRUE(ClientRecords().empty());
    // A missing file turns TLS off again.
    m_client.iLoadParameters(ClientConfig().c_str(), 1);
    ASSERT_EQ(1, m_client.IsUseSSL());
    EXPECT_EQ(1, m_client.iLoadParameters(m_dir.file("missing.ini").c_str(), 1));
    EXPECT_EQ(0, m_client.IsUseSSL());
}

TEST_F(OsslConfigTest, DefaultsComeFromTheExecutableFolder) {
    // A null path means "<exe dir>/Network.ini"; the default revocation list
    // does not exist, so the load fails and releases the context. (The
    // handshakes rely on the default certificate paths.)
    WriteConfig("Network.ini", {{"UseSSL", "1"}, {"UseCRLFile", "1"}});
    EXPECT_EQ(-1, m_client.iLoadParameters(nullptr, 1));
    EXPECT_FALSE(m_client.HasContext());
    auto records = ClientRecords();
    std::string failed = "Load CRL file failed, file:" + Certs("expired/crl.crl") + ", Error Code:*";
    std::string config = "Configuration File: " + NativePath(m_dir.path(), "/Network.ini");
    EXPECT_TRUE(HasInOrder(records, {config, failed})) << testing::PrintToString(records);
}

TEST_F(OsslConfigTest, EmptyPathsKeepTheirValueWhileEmptyTextsEmptyTheirField) {
    // On a new object an empty path stays empty; without a local certificate
    // the load fails but keeps the context.
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig({{"ServerCA", ""}}).c_str(), 1));
    EXPECT_STREQ("", m_client.LocalCertPath());
    EXPECT_TRUE(m_client.HasContext());
    OSSL fresh;
    EXPECT_EQ(-1, fresh.iLoadParameters(ClientConfig({{"CA", ""}}).c_str(), 1));
    EXPECT_STREQ("", fresh.CAPath());

    Keys keys = {{"KeyPassword", devkit::kTestKeyPassPhrase}, {"CA", "\\certs\\SelfCert.pem"},
                 {"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"PeerCerSubject", "/CN=a"}, {"PeerCerIssuer", "/CN=b"},
                 {"EncryptionAlgorithm", "AES128-SHA"}, {"SSLMethod", "SSLv23"}};
    ASSERT_EQ(1, m_client.iLoadParameters(ClientConfig(keys).c_str(), 1));
    for (size_t i = 1; i < keys.size(); ++i) keys[i].second.clear();
    EXPECT_EQ(1, m_client.iLoadParameters(ClientConfig(keys).c_str(), 1));
    EXPECT_EQ(Certs("SelfCert.pem"), m_client.CAPath());
    EXPECT_EQ(Certs("ServerKeyEnc.pem"), m_client.PrivateKeyPath());
    EXPECT_EQ("", std::string(m_client.ExpectedSubject()) + m_client.ExpectedIssuer() + m_client.CipherList() +
                      m_client.MethodName());
}

TEST_F(OsslConfigTest, RevocationListLoadsAsDerElseAsPem) {
    EXPECT_EQ(1, LoadServer({{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.der"}}));
    EXPECT_EQ(1, LoadServer({{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.pem"}}));
    EXPECT_EQ(2, Count(ServerRecords(), "Load CRL file success"));
}

TEST_F(OsslConfigTest, PrivateKeyWithPassPhrase) {
    const std::string phrase = devkit::kTestKeyPassPhrase;
    EXPECT_EQ(1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"KeyPassword", phrase}}));
    EXPECT_EQ(1, LoadServer({{"KeyPassword", phrase}}));  // the key is not encrypted
    EXPECT_EQ(-1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"KeyPassword", "wrong"}}));
    EXPECT_FALSE(m_server.HasContext());
    auto records = ServerRecords();
    std::string failed = "Get Server Key file failed, file:" + Certs("ServerKeyEnc.pem") + ", Error Code:";
    EXPECT_TRUE(HasInOrder(records, {"PEM_read_bio_PrivateKey err", failed + "*"})) << testing::PrintToString(records);
    EXPECT_EQ(0, Count(records, failed + "0"));
    // Without a pass phrase the encrypted key is refused, never prompted for.
    EXPECT_EQ(-1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}}));
}

TEST_F(OsslConfigTest, PathLongerThanItsFieldRefusesTheLoad) {
    std::string deep = m_dir.file(std::string(240, 'd'));
    platform::SetModuleFileNameForTest(deep + "/host");
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig().c_str(), 1));
    EXPECT_STREQ("", m_client.CAPath());
    EXPECT_EQ(1, Count(ClientRecords(), "SSL path too long, key:CA, path:" + NativePath(deep, "/certs/CACert.pem")));
}

const std::string kServer = devkit::kTestServerSubject;
const std::string kCa = devkit::kTestCaSubject;
const std::string kFinished = "SSL: SSL negotiation finished successfully, ";
const std::string kRefused = "Peer server certificate invalid! Connection exit!";
const std::string kFailed = "OTCPSock::SSL_connect Failed.";
const Keys kSelfSigned = {{"ServerCA", "\\certs\\SelfCert.pem"}, {"ServerKEY", "\\certs\\SelfKey.pem"}};
const Keys kRevoked = {{"ServerCA", "\\certs\\RevokedCert.pem"}, {"ServerKEY", "\\certs\\RevokedKey.pem"}};
const Keys kCrl = {{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.pem"}};
const std::string kIssuerMismatch =
    "Issuer doesn't match!\n\tIssuer Configured is:/CN=other CA\n\tCertificate Issuer is:" + kCa + "\n";

using OsslHandshakeTest = TlsTest;

TEST_F(OsslHandshakeTest, ExchangeVanishedPeerCloseAndNewHandshake) {
    std::string server = ServerConfig();
    std::string client = ClientConfig({{"PeerCerSubject", kServer}, {"PeerCerIssuer", kCa}});
    ASSERT_EQ(1, Connect(client, server));
    ExpectEcho("hello over TLS\n");
    ExpectEcho(std::string(20000, 'x') + "\n");
    auto records = ClientRecords();
    EXPECT_TRUE(HasInOrder(records, {"Configuration File: " + client, "SSL Load Certificate Success!",
                                     "SSL_connect.", "Peer server certificate valid!", kFinished + "TLSv1.2"}))
        << testing::PrintToString(records);
    EXPECT_TRUE(HasInOrder(ServerRecords(), {"Configuration File: " + server, kFinished + "TLSv1.2"}));

    // Writing to a peer that vanished fails, and raises no SIGPIPE.
    StopEcho();
    int result = 0;
    EXPECT_TRUE(testsupport::WaitUntil([&] { return (result = m_client.iSSLSend("data", 4)) < 0; }));
    EXPECT_EQ("ssl write err=" + std::to_string(result), ClientRecords().back());

    EXPECT_EQ(1, m_client.CloseSSL());
    char buf[8];
    EXPECT_EQ(-2, m_client.iSSLReceive(buf, sizeof buf));
    EXPECT_EQ(-2, m_client.iSSLSend("x", 1));
    EXPECT_EQ("ssl write err=-2", ClientRecords().back());

    // The next handshake reads the configuration again.
    ClientConfig({{"PeerCerSubject", "/CN=someone else"}});
    EXPECT_EQ(0, Connect(client, server));
    EXPECT_EQ(2, Count(ClientRecords(), "Configuration File: " + client));
    EXPECT_EQ(kRefused, ClientRecords().back());
}

TEST_F(OsslHandshakeTest, NewPeerOnTheOldPeersSocketNumberGetsNoCloseNotification) {
    ASSERT_EQ(1, Connect(ClientConfig(), ServerConfig()));
    // The echo ends on the client's close notification; the server keeps its
    // sound connection object, and the next peer's socket takes its number.
    m_client.CloseSSL();
    m_echo.join();
    int number = m_serverEnd.Release();
    ASSERT_EQ(1, Connect(ClientConfig(), ServerConfig(), number));
    ExpectEcho("new peer\n");
}

struct Case {
    const char* name;
    Keys client;
    Keys server;
    int result;                      // of iSSLConnect
    bool keepsContext;               // after iSSLConnect
    std::vector<std::string> lines;  // in the client's log in this order (see HasInOrder)
    std::string absent;              // a line the client must not log
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"SubjectMismatchSkipsTheIssuer", {{"PeerCerSubject", "/CN=other"}, {"PeerCerIssuer", "/CN=other CA"}}, {}, 0,
     false, {"Subject doesn't match!\n\tSubject configured is:/CN=other\n\tCertificate subject is:" + kServer + "\n",
             kRefused}, kIssuerMismatch},
    {"IssuerMismatch", {{"PeerCerSubject", kServer}, {"PeerCerIssuer", "/CN=other CA"}}, {}, 0, false,
     {kIssuerMismatch, kRefused}, "Peer server certificate valid!"},
    {"InvalidCertificateIsOnlyLogged", {{"PeerCerMustBeValid", "0"}}, kSelfSigned, 1, true,
     {"Peer server certificate invalid! Error code:18", kFinished + "TLSv1.2"}, kRefused},
    {"InvalidCertificateEndsTheHandshake", {}, kSelfSigned, 0, true,
     {"SSL_connect.", kFailed, "*:certificate verify failed(-1)"}, "SSL_get_peer_certificate."},
    // A load that failed at the missing certificate left no verification mode.
    {"InvalidCertificateSeenAfterTheHandshake", {{"ServerCA", "\\certs\\missing.pem"}}, kSelfSigned, 0, false,
     {"Peer server certificate invalid! Error code:18", "Peer certificate must be valid, connection exit!"}, ""},
    {"RevokedCertificate", kCrl, kRevoked, 0, true,
     {"Load CRL file success", kFailed, "*:certificate verify failed(-1)"}, ""},
    {"RevokedCertificateIsOnlyLogged", {{"PeerCerMustBeValid", "0"}, kCrl[0], kCrl[1]}, kRevoked, 1, true,
     {"Peer server certificate invalid! Error code:23"}, ""},
    {"UnrevokedCertificate", kCrl, {}, 1, true, {"Load CRL file success", "Peer server certificate valid!"}, ""},
    {"Tls13RefusesTls12", {}, {{"SSLMethod", "TLSv1.3"}}, 0, true, {kFailed}, ""},
    {"Tls13", {{"SSLMethod", "SSLv23"}}, {{"SSLMethod", "TLSv1.3"}}, 1, true, {kFinished + "TLSv1.3"}, ""},
    {"LowerCaseMethodIsTls12", {{"SSLMethod", "SSLv23"}}, {{"SSLMethod", "tlsv1.3"}}, 1, true,
     {kFinished + "TLSv1.2"}, ""},
    {"ConfiguredCipher", {{"EncryptionAlgorithm", "ECDHE-ECDSA-AES128-SHA"}}, {}, 1, true,
     {"SSL connection using ECDHE-ECDSA-AES128-SHA\nServer certificate:\n\tsubject: " + kServer +
      "\n\tissuer: " + kCa + "\n"}, ""},
    {"NoContextNoConnectionObject", {{"CA", "\\certs\\missing.pem"}}, {}, 0, false,
     {"OTCPSock::OnConnect New Failed."}, "SSL_connect."},
};

class OsslHandshakeCase : public TlsTest, public testing::WithParamInterface<Case> {};

TEST_P(OsslHandshakeCase, ResultLinesAndState) {
    const Case& c = GetParam();
    EXPECT_EQ(c.result, Connect(ClientConfig(c.client), ServerConfig(c.server)));
    auto records = ClientRecords();
    EXPECT_TRUE(HasInOrder(records, c.lines)) << testing::PrintToString(records);
    EXPECT_EQ(0, Count(records, c.absent));
    EXPECT_EQ(c.keepsContext, m_client.HasContext());
    EXPECT_EQ(c.result == 1, m_client.HasConnection());
    if (c.result == 1) ExpectEcho(std::string(c.name) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Tls, OsslHandshakeCase, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

using OsslConcurrencyTest = TlsTest;

TEST_F(OsslConcurrencyTest, SessionThreadReadsWhileHostThreadsWriteAndAnotherCloses) {
    ASSERT_EQ(1, Connect(ClientConfig(), ServerConfig()));
    SetNonBlocking(m_clientEnd.fd());
    constexpr int kMessages = 1000, kSize = 100;
    std::atomic<int> sent{0}, received{0};
    std::string data;  // the reader's until it is joined

    // The session thread polls and reads until the connection is gone.
    std::thread reader([&] {
        char buf[4096];
        for (int n = 0; n != -2; n = m_client.iSSLReceive(buf, sizeof buf)) {
            if (n > 0) data.append(buf, static_cast<size_t>(n));
            received += std::max(n, 0);
            devkit::net::WaitFor(m_clientEnd.fd(), POLLIN, 20);
        }
    });
    auto writer = [&](char fill) {
        const std::string message(kSize, fill);
        for (int i = 0; i < kMessages; ++i) sent += std::max(0, m_client.iSSLSend(message.data(), kSize));
    };
    std::thread writerA(writer, 'A'), writerB(writer, 'B');
    writerA.join();
    writerB.join();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return received.load() == sent.load(); }));
    std::thread([&] { m_client.CloseSSL(); }).join();  // the closing thread
    reader.join();

    // The echo keeps the order of the writes: every message arrives whole.
    ASSERT_EQ(static_cast<size_t>(2 * kMessages * kSize), data.size());
    for (size_t at = 0; at < data.size(); at += kSize) {
        ASSERT_EQ(std::string(kSize, data[at]), data.substr(at, kSize)) << "at " << at;
    }
}

// A write into a full socket buffer waits for room instead of failing half
// way (which would break the TLS stream for every later write).
TEST_F(OsslHandshakeTest, WritesIntoAFullBufferWaitForRoom) {
    ASSERT_EQ(1, Connect(ClientConfig(), ServerConfig()));
    SetNonBlocking(m_clientEnd.fd());
    int small = 16384;  // a small send buffer fills at once
    setsockopt(m_clientEnd.fd(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
    const int kCount = 20, kSize = 65536;
    std::atomic<int> written{0};
    std::atomic<bool> gaveUp{false};
    std::thread writer([&] {
        for (int i = 0; i < kCount; ++i) {
            std::string chunk(kSize, static_cast<char>('a' + i % 26));
            if (m_client.iSSLSend(chunk.data(), kSize) != kSize) {
                gaveUp = true;
                break;
            }
            ++written;
        }
    });
    std::string echoed;
    char buf[65536];
    testsupport::WaitUntil([&] {
        int n = m_client.iSSLReceive(buf, sizeof buf);
        if (n > 0) echoed.append(buf, static_cast<size_t>(n));
        return echoed.size() >= static_cast<size_t>(kCount) * kSize || gaveUp;
    }, std::chrono::milliseconds(30000));
    writer.join();
    EXPECT_EQ(kCount, written.load());
    ASSERT_EQ(static_cast<size_t>(kCount) * kSize, echoed.size());
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(std::string(kSize, static_cast<char>('a' + i % 26)), echoed.substr(static_cast<size_t>(i) * kSize, kSize));
}

}  // namespace
