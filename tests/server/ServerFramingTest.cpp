// How the server session turns a peer's reads into messages (with and without
// "SplitReads"), and what its send records show.
#include <gtest/gtest.h>

#include <random>

#include "support/Harness.h"

using namespace testsupport;

namespace {

TEST(ServerFraming, MessageAcrossReadsAndDiscardAfterItsTimeOut) {
    FakeTick tick(70000);
    ServedPeer s("netheader=4\nRecvDataDelayTimeOut=1000");
    ASSERT_TRUE(s.ok);
    const std::string frame = Frame(4, "hello");
    ASSERT_TRUE(s.peer.Send(frame.substr(0, 1)));
    ASSERT_TRUE(s.scene.WaitForTrace("Network Status Is Not Good. StartTick(70000)"));
    ASSERT_TRUE(s.peer.Send(frame.substr(1, 3)));
    ASSERT_TRUE(s.scene.WaitForTrace(":OnReceive(Len=3).\r\n"));
    ASSERT_TRUE(s.peer.Send(frame.substr(4)));
    EXPECT_EQ("hello", s.Next());
    EXPECT_EQ(1u, CountOf(s.scene.Trace(), "Network Status Is Not Good."));  // once per message, not per read

    ASSERT_TRUE(s.peer.Send(Frame(4, "lost").substr(0, 3)));
    ASSERT_TRUE(s.scene.WaitForTrace("Network Status Is Not Good. StartTick(70000)", 2));
    FakeTick::now += 1500;
    ASSERT_TRUE(s.peer.Send(Frame(4, "new")));
    EXPECT_EQ("new", s.Next());
    EXPECT_TRUE(s.scene.WaitForTrace(
        ":Network Status Bad. Discard Previous Message! OnReceiveDataTimeOut(1000)(dwElapse=1500). "
        "dwEndTime=71500, dwStartTime=70000\r\n"));
}

// A receive waits while a peer is connected, and only then.
TEST(ServerFraming, PeerLeavingMidMessageLeavesNothingBehind) {
    ServedPeer s("netheader=4");
    ASSERT_TRUE(s.ok);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ("<none>", s.Next(300));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
    ASSERT_TRUE(s.peer.Send(Frame(4, "half").substr(0, 3)));
    ASSERT_TRUE(s.scene.WaitForTrace("Network Status Is Not Good."));
    s.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return s.host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(s.scene.WaitForTrace("OnClose(000):"));
    EXPECT_TRUE(s.host.CloseErrors().empty());

    TcpConnection next;
    ASSERT_TRUE(s.ConnectPeer(next));
    ASSERT_TRUE(next.Send(Frame(4, "whole")));
    EXPECT_EQ("whole", s.Next());
    EXPECT_EQ((std::vector<std::string>{"whole"}), s.host.Received());

    EXPECT_EQ(0, s.host.SetRecvDataType(1));
    ASSERT_TRUE(next.Send(Frame(4, "notified only")));
    ASSERT_TRUE(WaitUntil([&] { return s.host.Received().size() == 2; }));
    EXPECT_EQ("<none>", s.Next(100));
}

TEST(ServerFraming, TransmitRecordMasksOrShowsTheHostsLogText) {
    ServedPeer masked("netheader=5");
    ASSERT_TRUE(masked.ok);
    EXPECT_EQ(24, masked.Send("0123456789ABCDEFGHIJ", "secret", 6));
    EXPECT_EQ(Frame(5, "0123456789ABCDEFGHIJ"), masked.peer.Receive(24));
    // The last socket error stands between the two parts; it is whatever the thread saw last.
    EXPECT_TRUE(masked.scene.WaitForTrace("\r\nTRANSMIT:[SLen:20|RLen:24,"));
    EXPECT_TRUE(masked.scene.WaitForTrace("][0000]01234************HIJ\r\n"));
    EXPECT_EQ(std::string::npos, masked.scene.Trace().find("secret"));

    ServedPeer plain("netheader=5\nMaskLog=0");
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(24, plain.Send("0123456789ABCDEFGHIJ", "secret", 6));
    EXPECT_TRUE(plain.scene.WaitForTrace("\r\nTRANSMIT:[SLen:6|RLen:24,"));
    EXPECT_TRUE(plain.scene.WaitForTrace("][0000]secret\r\n"));
}

using Strings = std::vector<std::string>;

// Random bodies a mode can frame (no 0x03 byte, which ends a mode 6 message).
Strings RandomBodies(std::mt19937& random, int mode, int count) {
    const size_t longest = mode == 2 ? 9999 : mode == 6 ? 20000 : 30000;
    Strings bodies;
    for (int i = 0; i < count; ++i) {
        std::string body(1 + (random() % 4 ? random() % 200 : random() % longest), '\0');
        for (char& c : body) c = static_cast<char>(4 + random() % 252);
        if (mode == 6) body += '\x03';
        bodies.push_back(body);
    }
    return bodies;
}

std::string Framed(int mode, const std::string& body) { return mode == 6 ? body : Frame(mode, body); }

// Over the socket, with the key read from the configuration; which reads
// give which messages in every mode is the framing fuzz target's job.
TEST(ServerSplitReads, RandomStreamsCutAnywhereArriveWholeAndInOrder) {
    std::mt19937 random(2611);
    for (int mode : {5, 6}) {
        SCOPED_TRACE("netheader=" + std::to_string(mode));
        ServedPeer s("netheader=" + std::to_string(mode) + "\nSplitReads=1");
        ASSERT_TRUE(s.ok);
        const Strings bodies = RandomBodies(random, mode, 300);
        std::string stream;
        for (const std::string& body : bodies) stream += Framed(mode, body);
        for (size_t at = 0; at < stream.size();) {
            const size_t piece = 1 + random() % (random() % 2 ? 16 : 40000);
            ASSERT_TRUE(s.peer.Send(stream.substr(at, piece)));
            at += piece;
        }
        ASSERT_TRUE(WaitUntil([&] { return s.host.Received().size() >= bodies.size(); }, std::chrono::seconds(20)));
        EXPECT_TRUE(bodies == s.host.Received());
    }
}

}  // namespace
