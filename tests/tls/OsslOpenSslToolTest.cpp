// Handshakes against the openssl command-line server and client.
#include "support/ChildProcess.h"
#include "support/LoopbackPeer.h"
#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

using OsslOpenSslToolTest = TlsTest;

TEST_F(OsslOpenSslToolTest, ClientTalksToOpensslServer) {
    int port = testsupport::RefusingPort();
    // -rev answers each line reversed.
    testsupport::ChildProcess server({"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                                      m_certs.serverCert, "-key", m_certs.serverKey, "-naccept", "1", "-rev"});
    ASSERT_TRUE(server.WaitForOutput("ACCEPT", 5000)) << server.output();
    m_clientFd = ConnectLoopback(port);
    EXPECT_EQ(1, m_client.iSSLConnect(static_cast<SOCKET>(m_clientFd), ClientConfig().c_str()));
    EXPECT_EQ(14, m_client.iSSLSend("hello tolvane\n", 14));
    EXPECT_EQ("enavlot olleh\n", ReadLine(m_client)) << server.output();
    m_client.CloseSSL();  // the close notification ends s_server
    EXPECT_TRUE(server.WaitForExit(5000)) << server.output();
}

TEST_F(OsslOpenSslToolTest, ServerTalksToOpensslClient) {
    int port = 0;
    int listener = ListenLoopback(&port);
    testsupport::ChildProcess client({"s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile",
                                      m_certs.caCert, "-verify_return_error"});
    ASSERT_TRUE(WaitReadable(listener, 5000)) << client.output();
    m_serverFd = accept(listener, nullptr, nullptr);
    close(listener);
    SetNonBlocking(m_serverFd);
    // The handshake starts here and completes within the reads.
    EXPECT_EQ(1, m_server.iSSLAccept(static_cast<SOCKET>(m_serverFd), ServerConfig().c_str()));
    client.Write("ping\n");
    EXPECT_EQ("ping\n", ReadLine(m_server)) << client.output();
    EXPECT_EQ(5, m_server.iSSLSend("pong\n", 5));
    EXPECT_TRUE(client.WaitForOutput("pong", 5000)) << client.output();  // it verified our certificate
    client.CloseInput();  // s_client ends the connection at the end of its input
    EXPECT_TRUE(client.WaitForExit(5000));
}

}  // namespace
}  // namespace tlstest
