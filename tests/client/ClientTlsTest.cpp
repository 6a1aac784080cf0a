#include <gtest/gtest.h>

#include <string>

#include "devkit/CertKit.h"
#include "support/Harness.h"
#include "support/ChildProcess.h"

using namespace testsupport;

namespace {

// The client over TLS against `openssl s_server -rev`, which answers every
// line with the line reversed, in both ways of reading TLS data.
// Certificate paths are relative to the executable's folder: the scene's.
class ClientTlsTest : public ::testing::TestWithParam<int> {
protected:
    ClientScene scene;
    ExeFolder exe{scene.dir};
    RecordingHost host;
};

TEST_P(ClientTlsTest, ExchangesMessagesWithOpensslServer) {
    const int port = RefusingPort();
    ChildProcess server({"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", exe.certs.serverCert,
                           "-key", exe.certs.serverKey, "-naccept", "1", "-rev"});
    ASSERT_TRUE(server.WaitForOutput("ACCEPT", 5000)) << server.output();

    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(GetParam()), nullptr, nullptr, 0);
    ASSERT_EQ(0, scene.Start(host, port, "netheader=3\n[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\nPeerCerSubject=" +
                                             std::string(devkit::kTestServerSubject) + "\n"));
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }, std::chrono::milliseconds(10000)));
    EXPECT_TRUE(scene.WaitForTrace("SSL Connect Success."));

    const std::string line = "hello tolvane\n";
    ASSERT_EQ(static_cast<int>(line.size()), host.SendData(line.data(), static_cast<int>(line.size()), 0, nullptr, 0));
    EXPECT_EQ("enavlot olleh\n", NextMessage(host)) << server.output();
    EXPECT_EQ(1u, host.Received().size());

    // The session thread may trace its wait after the echo has arrived.
    const std::string polls = "WaitDataOrConnectEvent AsyncSelect(001)", waits = "Wait Data Event From Windows.";
    const bool polling = GetParam() != 1;
    EXPECT_TRUE(scene.WaitForTrace(polling ? polls : waits));
    EXPECT_EQ(0u, CountOf(scene.Trace(), polling ? waits : polls));
}

// A peer that accepts but never answers the handshake, and no socket
// time-out: the stop still ends the session at once.
TEST_P(ClientTlsTest, StopEndsAHandshakeThatHangs) {
    LoopbackPeer silent;
    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(GetParam()), nullptr, nullptr, 0);
    ASSERT_EQ(0, scene.Start(host, silent.port(), "[NetworkPara_client_0]\nSndRcvTimeout=0\n[SSLConfig]\nUseSSL=1\n"));
    ASSERT_TRUE(silent.Accept());
    ASSERT_TRUE(scene.WaitForTrace("SSL_connect."));
    auto start = std::chrono::steady_clock::now();
    host.StopTolvane();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(0, host.connects);
}

INSTANTIATE_TEST_SUITE_P(ReadModes, ClientTlsTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("OnEvents") : std::string("Polling");
                         });

}  // namespace
