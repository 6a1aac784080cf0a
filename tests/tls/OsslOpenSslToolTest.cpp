// Handshakes against the openssl command-line server and client.
#include <sys/socket.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "tls/TlsTestEnv.h"

namespace tlstest {
using testsupport::ChildProcess;
namespace {

class OsslOpenSslToolTest : public TlsTest {};

TEST_F(OsslOpenSslToolTest, ClientTalksToOpensslServer) {
    int port = FreeLoopbackPort();
    // -rev answers each line with the line reversed.
    ChildProcess server({"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", m_certs.serverCert,
                           "-key", m_certs.serverKey, "-naccept", "1", "-rev"});
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.WaitForOutput("ACCEPT", 5000)) << server.output();

    int fd = ConnectLoopback(port);
    std::string config = ClientConfig({{"PeerCerSubject", devkit::kTestServerSubject},
                                       {"PeerCerIssuer", devkit::kTestCaSubject}});
    ASSERT_EQ(1, m_client.iSSLConnect(static_cast<SOCKET>(fd), config.c_str()));
    EXPECT_TRUE(Has(ClientRecords(), "Peer server certificate valid!"));

    std::string line = "hello tolvane\n";
    ASSERT_EQ(static_cast<int>(line.size()), m_client.iSSLSend(line.data(), static_cast<int>(line.size())));
    std::string answer;
    char buf[256];
    while (answer.find('\n') == std::string::npos) {
        int n = m_client.iSSLReceive(buf, sizeof buf);
        ASSERT_GT(n, 0) << server.output();
        answer.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ("enavlot olleh\n", answer);

    m_client.CloseSSL();
    close(fd);
    EXPECT_TRUE(server.WaitForExit(5000));
}

TEST_F(OsslOpenSslToolTest, ServerTalksToOpensslClient) {
    int port = 0;
    int listener = ListenLoopback(&port);
    ChildProcess client({"s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile", m_certs.caCert,
                           "-verify_return_error"});
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(WaitReadable(listener, 5000)) << client.output();
    int fd = accept(listener, nullptr, nullptr);
    close(listener);
    ASSERT_GE(fd, 0);
    SetNonBlocking(fd);

    // The handshake starts here and completes within the reads below.
    ASSERT_EQ(1, m_server.iSSLAccept(static_cast<SOCKET>(fd), ServerConfig().c_str()));
    client.Write("ping\n");
    std::string received;
    char buf[256];
    for (int rounds = 0; received.find('\n') == std::string::npos && rounds < 100; ++rounds) {
        WaitReadable(fd, 100);
        int n = m_server.iSSLReceive(buf, sizeof buf);
        if (n > 0) received.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ("ping\n", received) << client.output();
    EXPECT_EQ(5, m_server.iSSLSend("pong\n", 5));
    EXPECT_TRUE(client.WaitForOutput("pong", 5000)) << client.output();
    EXPECT_NE(std::string::npos, client.output().find("Verify return code: 0 (ok)")) << client.output();

    client.CloseInput();  // s_client closes the connection at the end of its input
    EXPECT_TRUE(client.WaitForExit(5000));
    m_server.CloseSSL();
    close(fd);
}

}  // namespace
}  // namespace tlstest
