// The listening server against raw loopback peers: address check, peer
// replacement, early resets, port conflicts, restarts; starting, stopping,
// replacing and resetting peers over and over (from several threads too)
// leaves no thread or descriptor behind, and a stop is prompt in every state.
#include <gtest/gtest.h>

#include <thread>

#include "support/Harness.h"

using namespace testsupport;

namespace {

TEST(ServerPeer, OtherAddressRefusedWhileAllowedPeerStays) {
    ServedPeer s("ip=127.0.0.1\nnetheader=4");
    ASSERT_TRUE(s.ok);
    TcpConnection stranger;
    ASSERT_TRUE(stranger.Connect(s.scene.port, "127.0.0.2"));
    EXPECT_TRUE(stranger.WaitClosed());
    EXPECT_TRUE(s.scene.WaitForTrace("Invalid IP connection 127.0.0.2:"));
    EXPECT_NE(std::string::npos, s.scene.Trace().find(". Valid IP(127.0.0.1)\r\n"));
    EXPECT_EQ(1, s.host.connects);
    ASSERT_TRUE(s.peer.Send(Frame(4, "still here")));
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

// A second start while serving keeps the listening socket and the peer (a
// stopped server restarting: ServerLifecycle.CyclesAndReplacements).
TEST(ServerPeer, AnyPeerWithoutAddressKeyAndASecondPeerReplacesTheFirstWithoutClose) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(0, s.host.StartTolvane(1, 0));
    EXPECT_EQ(1u, CountOf(s.scene.Trace(), "Start Server Success"));
    EXPECT_EQ(0, s.host.GetNetworkStatus());
    ASSERT_TRUE(s.peer.Send(Frame(4, "hello")));
    EXPECT_EQ("hello", s.Next());
    EXPECT_EQ(7, s.Send("world"));
    EXPECT_EQ(Frame(4, "world"), s.peer.Receive(7));
    EXPECT_TRUE(s.scene.WaitForTrace("New connection 127.0.0.1:"));
    TcpConnection second;
    ASSERT_TRUE(s.ConnectPeer(second));
    EXPECT_TRUE(s.peer.WaitClosed());
    EXPECT_EQ(2, s.host.connects);
    EXPECT_TRUE(s.host.CloseErrors().empty());
    ASSERT_TRUE(second.Send(Frame(4, "second")));
    EXPECT_EQ("second", s.Next());
    EXPECT_EQ(6, s.Send("back"));
    EXPECT_EQ(Frame(4, "back"), second.Receive(6));
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

TEST(ServerLifecycle, CyclesAndReplacementsKeepThreadsAndDescriptorsAtBaseline) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.peer.Send(Frame(4, "warm")));
    ASSERT_EQ("warm", s.Next());
    const int threads = CountThreads();
    const int descriptors = SettledDescriptorCount();

    for (int i = 0; i < 200; ++i) {
        TcpConnection next;
        ASSERT_TRUE(s.ConnectPeer(next)) << i;
        ASSERT_TRUE(s.peer.WaitClosed()) << i;
        s.peer.Adopt(dup(next.fd()));
    }
    ASSERT_TRUE(s.peer.Send(Frame(4, "last")));
    EXPECT_EQ("last", s.Next());
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(descriptors, SettledDescriptorCount());

    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, s.host.StopTolvane()) << i;
        ASSERT_TRUE(s.peer.WaitClosed()) << i;
        ASSERT_EQ(0, s.host.StartTolvane(1, 0)) << i;
        ASSERT_TRUE(s.ConnectPeer(s.peer)) << i;
    }
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(descriptors, SettledDescriptorCount());

    // Peers that reset at once: each one's close is noticed and its
    // descriptor closed, the last one's too.
    s.peer.Close();
    for (int i = 0; i < 200; ++i) {
        TcpConnection next;
        ASSERT_TRUE(s.ConnectPeer(next)) << i;
        next.Reset();
    }
    EXPECT_TRUE(WaitUntil([&] { return s.host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors - 2; }));  // s.peer and its server side
    EXPECT_EQ(threads, CountThreads());
}

// A peer that resets while its OnConnect still runs: the message it sent
// first arrives, then its close (10054) ends the connection.
TEST(ServerPeer, ResetDuringOnConnectIsNoticedAfterTheLastMessage) {
    ServerScene scene;
    RecordingHost host;
    std::atomic<bool> hold{false}, reset{false};
    host.onConnect = [&] {
        if (hold) WaitUntil([&] { return reset.load(); });
    };
    ASSERT_EQ(0, scene.StartServer(host, "netheader=4"));
    {
        TcpConnection warm;  // the session's notification thread exists from here on
        ASSERT_TRUE(warm.Connect(scene.port));
        ASSERT_TRUE(WaitUntil([&] { return host.connects == 1 && host.GetNetworkStatus() == 0; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
    const int descriptors = SettledDescriptorCount();
    hold = true;
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 2; }));
    ASSERT_TRUE(peer.Send(Frame(4, "last words")));
    peer.Reset();
    reset = true;
    EXPECT_EQ("last words", NextMessage(host));
    EXPECT_TRUE(scene.WaitForTrace("OnClose(10054):"));
    EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }));
}

// Starts and stops from two host threads at once while peers come, each
// stopping the server from its OnConnect: afterwards a start listens again.
TEST(ServerLifecycle, ConcurrentStartsAndStopsLeaveAServerThatStarts) {
    ServerScene scene;
    RecordingHost host;
    std::atomic<bool> stopOnConnect{true};
    host.onConnect = [&] {
        if (stopOnConnect) host.StopTolvane();
    };
    ASSERT_EQ(0, scene.StartServer(host));
    std::atomic<bool> done{false};
    std::thread peers([&] {
        // From another address: a connect from 127.0.0.1 while nothing
        // listens may get the server's port as its own and connect to
        // itself, which then holds the port.
        while (!done) {
            TcpConnection peer;
            peer.Connect(scene.port, "127.0.0.2", 100);
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    auto startsAndStops = [&] {
        for (int i = 0; i < 300 && std::chrono::steady_clock::now() < end; ++i) {
            host.StartTolvane(1, 0);
            host.StopTolvane();
        }
    };
    std::thread other(startsAndStops);
    startsAndStops();
    other.join();
    done = true;
    peers.join();
    stopOnConnect = false;

    ASSERT_EQ(0, host.StopTolvane());
    const int before = host.connects;
    ASSERT_EQ(0, host.StartTolvane(1, 0));
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    EXPECT_TRUE(WaitUntil([&] { return host.connects > before && host.GetNetworkStatus() == 0; }));
}

// Listening, connected plain, connected TLS with the handshake never
// finished, and connected WebSocket.
TEST(ServerLifecycle, StopIsPromptInEveryState) {
    ServerScene scene;
    ExeFolder exe(scene.dir);
    struct Case {
        const char* name;
        std::string keys, extra;
        bool connect;
        std::string greeting;
    };
    const Case cases[] = {
        {"listening", "", "", false, ""},
        {"plain with a partial message", "netheader=4", "", true, Frame(4, "half").substr(0, 3)},
#if TOLVANE_HAVE_TLS
        {"tls mid-handshake", "", "[SSLConfig]\nUseSSL=1\n", true, "\x16\x03\x01\x02\x00\x01"},
#endif
        {"websocket", "IsWebsocket=1", "", true,
         "GET / HTTP/1.1\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHost host;
        ASSERT_EQ(0, scene.StartServer(host, c.keys, c.extra));
        TcpConnection peer;
        if (c.connect) {
            ASSERT_TRUE(peer.Connect(scene.port));
            ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
            ASSERT_TRUE(peer.Send(c.greeting));
        }
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(0, host.StopTolvane());
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
        EXPECT_EQ(1, host.GetNetworkStatus());
        if (c.connect) {
            EXPECT_TRUE(peer.WaitClosed());
        }
    }
}

}  // namespace
