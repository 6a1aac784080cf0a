// Client and server handshakes between two OSSL objects over loopback TCP,
// and one connection used from several threads at once.
#include <poll.h>

#include <atomic>

#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

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
            pollfd readable{m_clientEnd.fd(), POLLIN, 0};
            poll(&readable, 1, 20);
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
    setsockopt(m_clientEnd.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
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
}  // namespace tlstest
