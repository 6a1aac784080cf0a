// The listening server against raw loopback peers: address check, peer
// replacement, port conflicts, restarts.
#include <gtest/gtest.h>

#include <chrono>

#include "support/Harness.h"

using namespace testsupport;

namespace {
std::string Framed4(const std::string& body) { return Frame(4, body); }
}  // namespace

TEST(ServerPeer, AnyPeerWithoutAddressKeyAndMessagesBothWays) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(0, s.host.GetNetworkStatus());
    ASSERT_TRUE(s.peer.Send(Framed4("hello")));
    EXPECT_EQ("hello", s.Next());
    EXPECT_EQ(7, s.Send("world"));
    EXPECT_EQ(Framed4("world"), s.peer.Receive(7));
    EXPECT_TRUE(s.scene.WaitForTrace("New connection 127.0.0.1:"));
}

TEST(ServerPeer, OtherAddressRefusedWhileAllowedPeerStays) {
    ServedPeer s("ip=127.0.0.1\nnetheader=4");
    ASSERT_TRUE(s.ok);
    TcpConnection stranger;
    ASSERT_TRUE(stranger.Connect(s.scene.port, "127.0.0.2"));
    EXPECT_TRUE(stranger.WaitClosed());
    EXPECT_TRUE(s.scene.WaitForTrace("Invalid IP connection 127.0.0.2:"));
    EXPECT_NE(std::string::npos, s.scene.Trace().find(". Valid IP(127.0.0.1)\r\n"));
    EXPECT_EQ(1, s.host.connects);
    ASSERT_TRUE(s.peer.Send(Framed4("still here")));
    EXPECT_EQ("still here", s.Next());
}

TEST(ServerPeer, AddressWithTrailingBlankRefusesEveryone) {
    ServerScene scene;
    RecordingHost host;
    ASSERT_EQ(0, scene.StartServer(host, "ip=\"127.0.0.1 \""));
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_TRUE(scene.WaitForTrace("Valid IP(127.0.0.1 )"));
    EXPECT_EQ(0, host.connects);
    EXPECT_EQ(1, host.GetNetworkStatus());
}

TEST(ServerPeer, SecondPeerReplacesFirstWithoutClose) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    TcpConnection second;
    ASSERT_TRUE(s.ConnectPeer(second));
    EXPECT_TRUE(s.peer.WaitClosed());
    EXPECT_EQ(2, s.host.connects);
    EXPECT_TRUE(s.host.CloseErrors().empty());
    ASSERT_TRUE(second.Send(Framed4("second")));
    EXPECT_EQ("second", s.Next());
    EXPECT_EQ(6, s.Send("back"));
    EXPECT_EQ(Framed4("back"), second.Receive(6));
}

TEST(ServerPeer, BusyPortFailsAfterFourAttempts) {
    LoopbackPeer holder;  // listens on the port
    ServerScene scene;
    scene.port = holder.port();
    RecordingHost host;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, scene.StartServer(host));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(3500));
    EXPECT_EQ(4u, CountOf(scene.Trace(), "Create Socket Fail.ServerPort=" + std::to_string(holder.port()) +
                                             ", LastError=10048"));
}

TEST(ServerPeer, SecondStartKeepsListeningSocketAndStoppedServerRestartsOnSamePort) {
    ServedPeer s;
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(0, s.host.StartTolvane(1, 0));
    EXPECT_EQ(1u, CountOf(s.scene.Trace(), "Start Server Success"));
    EXPECT_EQ(0, s.host.GetNetworkStatus());

    EXPECT_EQ(0, s.host.StopTolvane());
    EXPECT_TRUE(s.peer.WaitClosed());
    EXPECT_EQ(1, s.host.GetNetworkStatus());
    ASSERT_EQ(0, s.host.StartTolvane(1, 0));
    TcpConnection again;
    EXPECT_TRUE(s.ConnectPeer(again));
}

TEST(ServerPeer, SendAndReceiveWithoutPeer) {
    ServerScene scene;
    RecordingHost host;
    ASSERT_EQ(0, scene.StartServer(host));
    EXPECT_EQ(-1, host.SendData("x", 1, 0, nullptr, 0));
    EXPECT_TRUE(scene.WaitForTrace("TRANSMIT:client socket is close.\r\n"));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ("<none>", NextMessage(host, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
}
