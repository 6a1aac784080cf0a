// Handshakes against the openssl command-line server and client.
#include <sys/socket.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "support/LoopbackPeer.h"
#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

using OsslOpenSslToolTest = TlsTest;
using testsupport::ChildProcess;

// Reads until a line ends or about 5 s passed.
std::string ReadLine(OSSL& ossl, int fd) {
    std::string text;
    char buf[256];
    testsupport::WaitUntil([&] {
        WaitReadable(fd, 50);
        int n = ossl.iSSLReceive(buf, sizeof buf);
        if (n > 0) text.append(buf, static_cast<size_t>(n));
        return text.find('\n') != std::string::npos;
    });
    return text;
}

TEST_F(OsslOpenSslToolTest, ClientTalksToOpensslServer) {
    int port = testsupport::RefusingPort();
    // -rev answers each line reversed.
    ChildProcess server({"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", m_certs.serverCert,
                         "-key", m_certs.serverKey, "-naccept", "1", "-rev"});
    ASSERT_TRUE(server.WaitForOutput("ACCEPT", 5000)) << server.output();
    int fd = ConnectLoopback(port);
    std::string config = ClientConfig({{"PeerCerSubject", devkit::kTestServerSubject}});
    EXPECT_EQ(1, m_client.iSSLConnect(static_cast<SOCKET>(fd), config.c_str()));
    EXPECT_EQ(14, m_client.iSSLSend("hello tolvane\n", 14));
    EXPECT_EQ("enavlot olleh\n", ReadLine(m_client, fd)) << server.output();
    m_client.CloseSSL();
    close(fd);
    EXPECT_TRUE(server.WaitForExit(5000));
}

TEST_F(OsslOpenSslToolTest, ServerTalksToOpensslClient) {
    int port = 0;
    int listener = ListenLoopback(&port);
    ChildProcess client({"s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile", m_certs.caCert,
                         "-verify_return_error"});
    ASSERT_TRUE(WaitReadable(listener, 5000)) << client.output();
    int fd = accept(listener, nullptr, nullptr);
    close(listener);
    SetNonBlocking(fd);
    // The handshake starts here and completes within the reads.
    EXPECT_EQ(1, m_server.iSSLAccept(static_cast<SOCKET>(fd), ServerConfig().c_str()));
    client.Write("ping\n");
    EXPECT_EQ("ping\n", ReadLine(m_server, fd)) << client.output();
    EXPECT_EQ(5, m_server.iSSLSend("pong\n", 5));
    EXPECT_TRUE(client.WaitForOutput("pong", 5000)) << client.output();
    EXPECT_NE(std::string::npos, client.output().find("Verify return code: 0 (ok)"));
    client.CloseInput();  // s_client ends the connection at the end of its input
    EXPECT_TRUE(client.WaitForExit(5000));
    m_server.CloseSSL();
    close(fd);
}

}  // namespace
}  // namespace tlstest
