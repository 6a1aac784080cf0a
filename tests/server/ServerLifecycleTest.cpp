// Starting, stopping and replacing peers over and over leaves no thread or
// descriptor behind, and a stop is prompt in every state.
#include <gtest/gtest.h>

#include <chrono>

#include "support/Harness.h"

using namespace testsupport;

namespace {

TEST(ServerLifecycle, CyclesAndReplacementsKeepThreadsAndDescriptorsAtBaseline) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.peer.Send(Frame(4, "warm")));
    ASSERT_EQ("warm", s.Next());
    const int threads = CountThreads();
    const int descriptors = CountOpenDescriptors();

    for (int i = 0; i < 200; ++i) {
        TcpConnection next;
        ASSERT_TRUE(s.ConnectPeer(next)) << i;
        ASSERT_TRUE(s.peer.WaitClosed()) << i;
        s.peer.Adopt(dup(next.fd()));
    }
    ASSERT_TRUE(s.peer.Send(Frame(4, "last")));
    EXPECT_EQ("last", s.Next());
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(descriptors, CountOpenDescriptors());

    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, s.host.StopTolvane()) << i;
        ASSERT_TRUE(s.peer.WaitClosed()) << i;
        ASSERT_EQ(0, s.host.StartTolvane(1, 0)) << i;
        ASSERT_TRUE(s.ConnectPeer(s.peer)) << i;
    }
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(descriptors, CountOpenDescriptors());
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
        {"tls mid-handshake", "", "[SSLConfig]\nUseSSL=1\n", true, "\x16\x03\x01\x02\x00\x01"},
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
        if (c.connect) {
            EXPECT_TRUE(peer.WaitClosed());
        }
    }
}

}  // namespace
