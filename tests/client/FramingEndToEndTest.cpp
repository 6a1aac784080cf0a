#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "support/Harness.h"

using namespace testsupport;

namespace {

std::string Keys(int mode, int included = 0) {
    return "netheader=" + std::to_string(mode) + "\nHeaderIncluded=" + std::to_string(included);
}

// Each length mode frames both ways; then random framed messages sent in
// random pieces arrive once each, in order, intact. The pieces take the
// socket path here; which reads give which messages, in every mode, is the
// framing fuzz target's job, so one mode's stream is enough.
TEST(FramingEndToEndTest, EveryLengthModeBothWaysAndThroughRandomSplits) {
    struct Case {
        int mode, included;
        std::string header;  // of "hello"
    };
    const Case cases[] = {
        {1, 0, Bytes({5, 0})},       {1, 1, Bytes({7, 0})},       {4, 0, Bytes({0, 5})}, {4, 1, Bytes({0, 7})},
        {5, 0, Bytes({0, 0, 0, 5})}, {5, 1, Bytes({0, 0, 0, 9})}, {2, 0, "0005"},        {2, 1, "0009"},
    };
    std::mt19937 rng(1204);
    for (const Case& c : cases) {
        SCOPED_TRACE(Keys(c.mode, c.included));
        ConnectedClient client(Keys(c.mode, c.included));
        ASSERT_TRUE(client.ok);
        EXPECT_EQ(static_cast<int>(c.header.size()) + 5, client.Send("hello"));
        EXPECT_EQ(c.header + "hello", client.peer.Receive(c.header.size() + 5));
        ASSERT_TRUE(client.peer.Send(c.header + "hello"));
        EXPECT_EQ("hello", client.Next());
        EXPECT_EQ(std::vector<std::string>{"hello"}, client.host.Received());
        if (c.mode != 5 || c.included != 1) continue;

        std::vector<std::string> sent(150);
        std::string stream;
        for (std::string& body : sent) {
            body.assign(1 + rng() % 2000, static_cast<char>('A' + rng() % 26));
            stream += Frame(c.mode, body, c.included);
        }
        for (size_t pos = 0, n = 0; pos < stream.size(); pos += n)
            ASSERT_TRUE(client.peer.Send(stream.substr(pos, n = 1 + rng() % 5000)));
        for (const std::string& body : sent) ASSERT_EQ(body, client.Next());
        EXPECT_EQ("<none>", client.Next(50));
    }
    ConnectedClient wide(Keys(2));
    ASSERT_TRUE(wide.ok);
    EXPECT_EQ(12349, wide.Send(std::string(12345, 'b')));
    EXPECT_EQ("1234", wide.peer.Receive(4));  // only four characters of "12345"
}

TEST(FramingEndToEndTest, IncompleteMessageOutlastingTheClientsTimeOutIsDiscarded) {
    FakeTick tick(50000);
    ConnectedClient client(Keys(5) + "\n[NetworkPara_client_0]\nRecvDataDelayTimeOut=1000");
    ASSERT_TRUE(client.ok);
    // An incomplete message older than the client's own time-out is
    // discarded. (How a message across reads is traced:
    // ServerFraming.MessageAcrossReads; two frames in one read: the exchange
    // trace and the random stream.)
    ASSERT_TRUE(client.peer.Send(Bytes({0, 0, 0, 9}) + "lost"));
    ASSERT_TRUE(client.scene.WaitForTrace("Network Status Is Not Good. StartTick(50000)"));
    FakeTick::now += 2000;
    ASSERT_TRUE(client.peer.Send(Bytes({0, 0, 0, 3}) + "new"));
    EXPECT_EQ("new", client.Next());
    EXPECT_TRUE(client.scene.WaitForTrace(
        ":Network Status Bad. Discard Previous Message! OnReceiveDataTimeOut(1000)(dwElapse=2000). "
        "dwEndTime=52000, dwStartTime=50000\r\n"));
}

// The session takes its end marker from the configuration.
TEST(FramingEndToEndTest, EndMarkerFromTheConfiguration) {
    ConnectedClient client("netheader=0\nMsgEndData=##");
    ASSERT_TRUE(client.ok);
    ASSERT_TRUE(client.peer.Send("abc##"));
    ASSERT_TRUE(client.scene.WaitForTrace("Network Status Is Not Good."));
    ASSERT_TRUE(client.peer.Send("X"));
    EXPECT_EQ("abc##X", client.Next());
}

// Large messages sent faster than the peer reads: each send waits for room
// instead of leaving half a frame on the wire.
TEST(FramingEndToEndTest, FullSocketBufferDelaysButNeverCutsAFrame) {
    ConnectedClient client("netheader=5\nMaskLog=0");
    ASSERT_TRUE(client.ok);
    EXPECT_EQ(-1, client.Send(std::string(102400, 'x')));  // 102404 framed bytes do not fit
    EXPECT_EQ(24, client.Send("0123456789ABCDEFGHIJ", "secret", 6));
    EXPECT_EQ(Frame(5, "0123456789ABCDEFGHIJ"), client.peer.Receive(24));
    EXPECT_TRUE(client.scene.WaitForTrace("\r\nTRANSMIT:[SLen:6|RLen:24,"));  // MaskLog=0 shows the host's text
    EXPECT_TRUE(client.scene.WaitForTrace("][0000]secret\r\n"));
    const int kCount = 120;
    std::atomic<int> sent{0};
    std::thread sender([&] {
        for (int i = 0; i < kCount; ++i) {
            std::string body(100000, static_cast<char>('a' + i % 26));
            if (client.Send(body) != 100004) break;
            ++sent;
        }
    });
    // 12 MB do not fit into the socket buffers: the sender stalls until we read.
    WaitUntil([&] { return sent == kCount; }, std::chrono::milliseconds(1000));
    int intact = 0;
    for (int i = 0; i < kCount; ++i) {
        std::string frame = client.peer.Receive(100004, 10000);
        if (frame != std::string("\0\x01\x86\xA0", 4) + std::string(100000, static_cast<char>('a' + i % 26))) break;
        ++intact;
    }
    sender.join();
    EXPECT_EQ(kCount, sent.load());
    EXPECT_EQ(kCount, intact);
}

}  // namespace
