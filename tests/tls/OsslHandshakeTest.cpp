// Client and server handshakes between two OSSL objects over loopback TCP.
#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

using devkit::kTestCaSubject;
using devkit::kTestServerSubject;

const char* kFinished = "SSL: SSL negotiation finished successfully, ";

class OsslHandshakeTest : public TlsTest {
protected:
    int ConnectClient(const std::string& clientConfig, const std::string& serverConfig) {
        return Connect(m_client, clientConfig, m_server, serverConfig, m_pair, m_echo);
    }
    // Sends `text` and expects the echo back.
    void ExpectEcho(const std::string& text) {
        ASSERT_EQ(static_cast<int>(text.size()), m_client.iSSLSend(text.data(), static_cast<int>(text.size())));
        std::string back;
        char buf[256];
        while (back.size() < text.size()) {
            int n = m_client.iSSLReceive(buf, sizeof buf);
            ASSERT_GT(n, 0);
            back.append(buf, static_cast<size_t>(n));
        }
        EXPECT_EQ(text, back);
    }
    std::string ServerCertificateLine(const std::string& subject, const std::string& issuer) {
        std::string line = FindPrefix(ClientRecords(), "SSL connection using ");
        std::string cipher = line.substr(21, line.find('\n') - 21);
        EXPECT_FALSE(cipher.empty());
        return "SSL connection using " + cipher + "\nServer certificate:\n\tsubject: " + subject +
               "\n\tissuer: " + issuer + "\n";
    }

    std::unique_ptr<LoopbackPair> m_pair;
    std::unique_ptr<EchoServer> m_echo;
};

TEST_F(OsslHandshakeTest, MatchingNamesConnectAndExchangeData) {
    std::string server = ServerConfig();
    std::string client = ClientConfig({{"PeerCerSubject", kTestServerSubject}, {"PeerCerIssuer", kTestCaSubject}});
    testing::internal::CaptureStdout();
    ASSERT_EQ(1, ConnectClient(client, server));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("verify_callback_server \n"));
    ExpectEcho("hello over TLS");
    ExpectEcho(std::string(20000, 'x'));

    auto records = ClientRecords();
    EXPECT_TRUE(HasInOrder(records, {"Configuration File: " + client,
                                     "SSL Load Certificate Success!",
                                     "SSL_CTX_set_cipher_list.",
                                     "SSL_set_fd.",
                                     "SSL_connect.",
                                     "SSL_CTX_set_verify.",
                                     "SSL_CTX_set_client_CA_list.",
                                     "SSL_get_peer_certificate.",
                                     "X509_NAME_oneline. X509_get_subject_name",
                                     "X509_NAME_oneline. X509_get_issuer_name",
                                     ServerCertificateLine(kTestServerSubject, kTestCaSubject),
                                     "Peer server certificate valid!",
                                     std::string(kFinished) + "TLSv1.2"}));

    // After the close, reads and writes find no connection.
    EXPECT_EQ(1, m_client.CloseSSL());
    EXPECT_FALSE(m_client.HasContext());
    char buf[8];
    EXPECT_EQ(-2, m_client.iSSLReceive(buf, sizeof buf));
    EXPECT_EQ(-2, m_client.iSSLSend("x", 1));
    EXPECT_EQ("ssl write err=-2", ClientRecords().back());

    // The server completed its handshake inside the accept (blocking socket)
    // and saw the client's close notification.
    m_echo->Finish();
    EXPECT_EQ("hello over TLS" + std::string(20000, 'x'), m_echo->received());
    auto serverRecords = ServerRecords();
    EXPECT_TRUE(HasInOrder(serverRecords, {"Configuration File: " + server, "SSL Load Certificate Success!",
                                           std::string(kFinished) + "TLSv1.2"}));
    std::string serverCipher = FindPrefix(serverRecords, "SSL connection using ");
    EXPECT_EQ(FindPrefix(ClientRecords(), "SSL connection using ").substr(0, serverCipher.size() - 1) + "\n",
              serverCipher);

    // The next handshake reads the configuration again: a subject now
    // expected otherwise refuses the same server.
    ClientConfig({{"PeerCerSubject", "/CN=someone else"}});
    EXPECT_EQ(0, ConnectClient(client, server));
    EXPECT_EQ(2, Count(ClientRecords(), "Configuration File: " + client));
    EXPECT_TRUE(Has(ClientRecords(), "Peer server certificate invalid! Connection exit!"));
}

TEST_F(OsslHandshakeTest, SubjectMismatchRefusesBeforeTheIssuerIsCompared) {
    std::string client = ClientConfig({{"PeerCerSubject", "/CN=other"}, {"PeerCerIssuer", "/CN=other CA"}});
    EXPECT_EQ(0, ConnectClient(client, ServerConfig()));
    auto records = ClientRecords();
    EXPECT_TRUE(HasInOrder(records, {"Subject doesn't match!\n\tSubject configured is:/CN=other\n\t"
                                     "Certificate subject is:" + std::string(kTestServerSubject) + "\n",
                                     "Peer server certificate invalid! Connection exit!"}));
    EXPECT_TRUE(FindPrefix(records, "Issuer doesn't match!").empty());
    EXPECT_FALSE(Has(records, "Peer server certificate valid!"));
    EXPECT_FALSE(m_client.HasContext());
    EXPECT_FALSE(m_client.HasConnection());
}

TEST_F(OsslHandshakeTest, IssuerMismatchRefuses) {
    std::string client = ClientConfig({{"PeerCerSubject", kTestServerSubject}, {"PeerCerIssuer", "/CN=other CA"}});
    EXPECT_EQ(0, ConnectClient(client, ServerConfig()));
    EXPECT_TRUE(HasInOrder(ClientRecords(), {"Issuer doesn't match!\n\tIssuer Configured is:/CN=other CA\n\t"
                                             "Certificate Issuer is:" + std::string(kTestCaSubject) + "\n",
                                             "Peer server certificate invalid! Connection exit!"}));
    EXPECT_FALSE(m_client.HasConnection());
}

TEST_F(OsslHandshakeTest, InvalidCertificateIsOnlyLoggedWhenValidityIsNotRequired) {
    std::string server = ServerConfig({{"ServerCA", "\\certs\\SelfCert.pem"}, {"ServerKEY", "\\certs\\SelfKey.pem"}});
    ASSERT_EQ(1, ConnectClient(ClientConfig({{"PeerCerMustBeValid", "0"}}), server));
    EXPECT_TRUE(HasInOrder(ClientRecords(), {"Peer server certificate invalid! Error code:18",
                                             std::string(kFinished) + "TLSv1.2"}));
    ExpectEcho("still talking");
}

TEST_F(OsslHandshakeTest, InvalidCertificateEndsTheHandshakeWhenValidityIsRequired) {
    std::string server = ServerConfig({{"ServerCA", "\\certs\\SelfCert.pem"}, {"ServerKEY", "\\certs\\SelfKey.pem"}});
    EXPECT_EQ(0, ConnectClient(ClientConfig(), server));
    auto records = ClientRecords();
    std::string failure = FindPrefix(records, "error:");
    EXPECT_TRUE(HasInOrder(records, {"SSL_connect.", "OTCPSock::SSL_connect Failed.", failure}));
    EXPECT_NE(std::string::npos, failure.find("certificate verify failed(-1)")) << failure;
    EXPECT_FALSE(Has(records, "SSL_get_peer_certificate."));
    // The connection object is gone; the context stays for the next try.
    EXPECT_FALSE(m_client.HasConnection());
    EXPECT_TRUE(m_client.HasContext());
}

TEST_F(OsslHandshakeTest, ClientWithoutOwnCertificateChecksValidityAfterTheHandshake) {
    // The load fails at the missing certificate but leaves its context, on
    // which no verification mode was set yet.
    testing::internal::CaptureStderr();
    std::string client = ClientConfig({{"ServerCA", "\\certs\\missing.pem"}, {"ServerKEY", kAbsent}});
    std::string server = ServerConfig({{"ServerCA", "\\certs\\SelfCert.pem"}, {"ServerKEY", "\\certs\\SelfKey.pem"}});
    EXPECT_EQ(0, ConnectClient(client, server));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(HasInOrder(ClientRecords(), {"SSL_get_peer_certificate.",
                                             "Peer server certificate invalid! Error code:18",
                                             "Peer certificate must be valid, connection exit!"}));
    EXPECT_FALSE(m_client.HasContext());
    EXPECT_FALSE(m_client.HasConnection());
}

TEST_F(OsslHandshakeTest, RevocationListTakesPartInVerification) {
    Keys crl = {{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.pem"}};
    std::string revoked =
        ServerConfig({{"ServerCA", "\\certs\\RevokedCert.pem"}, {"ServerKEY", "\\certs\\RevokedKey.pem"}});
    Keys lenient = crl;
    lenient.emplace_back("PeerCerMustBeValid", "0");
    EXPECT_EQ(1, ConnectClient(ClientConfig(lenient), revoked));
    EXPECT_TRUE(Has(ClientRecords(), "Peer server certificate invalid! Error code:23"));
    m_client.CloseSSL();

    EXPECT_EQ(0, ConnectClient(ClientConfig(crl), revoked));
    EXPECT_TRUE(Has(ClientRecords(), "OTCPSock::SSL_connect Failed."));
    m_client.CloseSSL();

    // A certificate the list does not name still verifies.
    EXPECT_EQ(1, ConnectClient(ClientConfig(crl), ServerConfig()));
    EXPECT_TRUE(Has(ClientRecords(), "Peer server certificate valid!"));
}

TEST_F(OsslHandshakeTest, MethodNamesChooseTheProtocol) {
    std::string tls13 = ServerConfig({{"SSLMethod", "TLSv1.3"}});
    EXPECT_EQ(0, ConnectClient(ClientConfig(), tls13));  // TLS 1.2 client
    EXPECT_TRUE(Has(ClientRecords(), "OTCPSock::SSL_connect Failed."));
    m_client.CloseSSL();

    ASSERT_EQ(1, ConnectClient(ClientConfig({{"SSLMethod", "SSLv23"}}), tls13));
    EXPECT_EQ(std::string(kFinished) + "TLSv1.3", ClientRecords().back());
    ExpectEcho("tls 1.3");
    m_client.CloseSSL();

    // A name in other letter case falls through to TLS 1.2.
    ASSERT_EQ(1, ConnectClient(ClientConfig({{"SSLMethod", "SSLv23"}}), ServerConfig({{"SSLMethod", "tlsv1.3"}})));
    EXPECT_EQ(std::string(kFinished) + "TLSv1.2", ClientRecords().back());
}

TEST_F(OsslHandshakeTest, ConfiguredCipherListGovernsTheFirstHandshake) {
    const char* cipher = "ECDHE-ECDSA-AES128-SHA";
    ASSERT_EQ(1, ConnectClient(ClientConfig({{"EncryptionAlgorithm", cipher}}), ServerConfig()));
    EXPECT_EQ(0u, FindPrefix(ClientRecords(), "SSL connection using ").find("SSL connection using " +
                                                                          std::string(cipher) + "\n"));
    ExpectEcho("cipher");
}

TEST_F(OsslHandshakeTest, NewPeerOnTheOldPeersSocketNumberGetsNoCloseNotification) {
    std::string server = ServerConfig();
    LoopbackPair first;
    std::thread accept([&] { m_server.iSSLAccept(static_cast<SOCKET>(first.server()), server.c_str()); });
    ASSERT_EQ(1, m_client.iSSLConnect(static_cast<SOCKET>(first.client()), ClientConfig().c_str()));
    accept.join();

    // The server still holds the sound connection object of the old socket
    // when a new peer's socket takes over its number.
    int oldNumber = first.ReleaseServer();
    LoopbackPair second;
    second.MoveServerTo(oldNumber);
    EchoServer echo(m_server, second, server);
    OSSL secondClient;
    secondClient.SetClientOwner(&m_clientLog);
    ASSERT_EQ(1, secondClient.iSSLConnect(static_cast<SOCKET>(second.client()), ClientConfig().c_str()));
    EXPECT_EQ(3, secondClient.iSSLSend("new", 3));
}

TEST_F(OsslHandshakeTest, NoContextMeansNoConnectionObject) {
    LoopbackPair pair;
    std::string broken = ServerConfig({{"CA", "\\certs\\missing.pem"}});
    EXPECT_EQ(0, m_server.iSSLAccept(static_cast<SOCKET>(pair.server()), broken.c_str()));
    EXPECT_TRUE(HasInOrder(ServerRecords(), {"Configuration File: " + broken, "OTCPSock::OnConnect New Failed."}));

    std::string client = ClientConfig({{"CA", "\\certs\\missing.pem"}});
    EXPECT_EQ(0, m_client.iSSLConnect(static_cast<SOCKET>(pair.client()), client.c_str()));
    EXPECT_EQ("OTCPSock::OnConnect New Failed.", ClientRecords().back());
}

}  // namespace
}  // namespace tlstest
