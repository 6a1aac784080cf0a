// The server over TLS: a real TLS client, and peers replacing each other.
#include <gtest/gtest.h>

#include <memory>

#include "support/ChildProcess.h"
#include "support/Harness.h"
#include "tls/OSSL.h"

using namespace testsupport;

namespace {

// Certificates under their default names below the scene's folder, which
// poses as the executable's folder.
class ServerTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, scene.StartServer(host, "netheader=0", "[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\n"));
    }
    void TearDown() override { host.StopTolvane(); }

    ServerScene scene;
    ExeFolder exe{scene.dir};
    RecordingHost host;
};

TEST_F(ServerTls, OpensslClientExchangesMessages) {
    ChildProcess client({"s_client", "-connect", "127.0.0.1:" + std::to_string(scene.port), "-CAfile", exe.certs.caCert,
                         "-verify_return_error", "-quiet"});
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    client.Write("from client\n");
    EXPECT_EQ("from client\n", NextMessage(host)) << client.output();
    const std::string reply = "from server\n";
    EXPECT_EQ(static_cast<int>(reply.size()), host.SendData(reply.data(), static_cast<int>(reply.size()), 0, nullptr, 0));
    EXPECT_TRUE(client.WaitForOutput("from server", 5000)) << client.output();
    EXPECT_TRUE(scene.WaitForTrace("CServerClient Svc  AsyncSelect(001)"));
}

// Each new TLS peer ends the previous one's polling thread before its own
// starts: the thread count stays that of one session.
TEST_F(ServerTls, FiftyPeersReplaceEachOtherLeavingOneSessionThread) {
    const std::string clientIni = scene.dir.file("client.ini");
    WriteTextFile(clientIni, "[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\n");
    int threadsWithOnePeer = 0;
    std::unique_ptr<OSSL> tls;
    TcpConnection peer;
    for (int i = 1; i <= 50; ++i) {
        tls = std::make_unique<OSSL>();
        ASSERT_EQ(1, tls->iLoadParameters(clientIni.c_str(), 1));
        ASSERT_TRUE(peer.Connect(scene.port));
        peer.MakeBlocking();
        ASSERT_EQ(1, tls->iSSLConnect(peer.fd(), clientIni.c_str())) << i;
        ASSERT_TRUE(WaitUntil([&] { return host.connects == i; })) << i;
        // The polling thread has started the socket's notification thread.
        ASSERT_TRUE(scene.WaitForTrace("CServerClient Svc  AsyncSelect(001)", i)) << i;
        if (i == 1) threadsWithOnePeer = CountThreads();
    }
    EXPECT_EQ(threadsWithOnePeer, CountThreads());
    for (const std::string body : {"one", "two", "three"}) {
        ASSERT_EQ(static_cast<int>(body.size()), tls->iSSLSend(body.data(), static_cast<int>(body.size())));
        EXPECT_EQ(body, NextMessage(host));
    }
    EXPECT_EQ(4, host.SendData("back", 4, 0, nullptr, 0));
    char buf[16] = {0};
    EXPECT_EQ(4, tls->iSSLReceive(buf, sizeof buf));
    EXPECT_EQ("back", std::string(buf));
    EXPECT_TRUE(host.CloseErrors().empty());
}

}  // namespace
