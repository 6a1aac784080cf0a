#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "platform/Time.h"
#include "support/ClientHarness.h"
#include "support/LoopbackPeer.h"

using namespace testsupport;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// One connected client with the given client-section keys against a peer.
class Connected {
public:
    explicit Connected(const std::string& keys) {
        scene.Configure(peer.port(), keys);
        scene.Attach(host);
        ok = host.StartTolvane(0, 0) == 0 && peer.Accept() &&
             WaitUntil([&] { return host.connects == 1 && host.GetNetworkStatus() == 0; });
    }
    ~Connected() { host.StopTolvane(); }

    // The next message taken with RecvData, or "<none>".
    std::string Next(unsigned long timeoutMs = 5000) {
        static unsigned char buf[102400];
        int len = 0;
        if (host.RecvData(buf, &len, timeoutMs) != 0) return "<none>";
        return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
    }
    int Send(const std::string& body, const char* logText = nullptr, int logLen = 0) {
        return host.SendData(body.data(), static_cast<int>(body.size()), 0, logText, logLen);
    }

    LoopbackPeer peer;
    ClientScene scene;
    RecordingHost host;
    bool ok = false;
};

TEST(FramingEndToEndTest, HeadersBothWaysInEveryLengthMode) {
    struct Case {
        int mode, included;
        std::string header;
    };
    const Case cases[] = {
        {1, 0, Bytes({3, 0})},          {1, 1, Bytes({5, 0})},          {4, 0, Bytes({0, 3})},
        {4, 1, Bytes({0, 5})},          {5, 0, Bytes({0, 0, 0, 3})},    {5, 1, Bytes({0, 0, 0, 7})},
        {2, 0, "0003"},                 {2, 1, "0007"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " included " + std::to_string(c.included));
        Connected client("netheader=" + std::to_string(c.mode) + "\nHeaderIncluded=" + std::to_string(c.included));
        ASSERT_TRUE(client.ok);
        EXPECT_EQ(static_cast<int>(c.header.size()) + 3, client.Send("abc"));
        EXPECT_EQ(c.header + "abc", client.peer.Receive(c.header.size() + 3));
        ASSERT_TRUE(client.peer.Send(c.header + "abc"));
        EXPECT_EQ("abc", client.Next());
        EXPECT_EQ(std::vector<std::string>{"abc"}, client.host.Received());
    }
}

TEST(FramingEndToEndTest, DecimalHeaderCases) {
    Connected client("netheader=2\nHeaderIncluded=1");
    ASSERT_TRUE(client.ok);
    EXPECT_EQ(9, client.Send("hello"));
    EXPECT_EQ("0009hello", client.peer.Receive(9));
    ASSERT_TRUE(client.peer.Send("0009hello"));
    EXPECT_EQ("hello", client.Next());

    Connected wide("netheader=2");
    ASSERT_TRUE(wide.ok);
    std::string big(12345, 'b');
    EXPECT_EQ(12349, wide.Send(big));
    EXPECT_EQ("1234", wide.peer.Receive(4));  // only four characters of "12345"
}

TEST(FramingEndToEndTest, MessagesSpanningAndSharingReads) {
    Connected client("netheader=5");
    ASSERT_TRUE(client.ok);
    // Two frames in one read: two messages in order, each recorded.
    ASSERT_TRUE(client.peer.Send(Bytes({0, 0, 0, 2}) + "hi" + Bytes({0, 0, 0, 3}) + "you"));
    EXPECT_EQ("hi", client.Next());
    EXPECT_EQ("you", client.Next());
    EXPECT_TRUE(client.scene.WaitForTrace("\r\nRECEIVE:you\r\n"));
    EXPECT_EQ(1u, CountOf(client.scene.Trace(), "\r\nRECEIVE:hi\r\n"));

    // One frame in three reads of 2, 3 and 4 bytes.
    const std::string frame = Bytes({0, 0, 0, 5}) + "hello";
    ASSERT_TRUE(client.peer.Send(frame.substr(0, 2)));
    ASSERT_TRUE(client.scene.WaitForTrace("Network Status Is Not Good. StartTick("));
    ASSERT_TRUE(client.peer.Send(frame.substr(2, 3)));
    ASSERT_TRUE(client.scene.WaitForTrace(":OnReceive(Len=3).\r\n"));
    ASSERT_TRUE(client.peer.Send(frame.substr(5)));
    EXPECT_EQ("hello", client.Next());
    std::string trace = client.scene.Trace();
    EXPECT_EQ(1u, CountOf(trace, "Network Status Is Not Good."));
    EXPECT_EQ(1u, CountOf(trace, ":OnReceive(Len=4).\r\n"));
    EXPECT_NE(std::string::npos, trace.find("]:[0000]\r\n"));  // the first read's trace line
}

TEST(FramingEndToEndTest, HeaderlessModes) {
    Connected endByte("netheader=6");
    ASSERT_TRUE(endByte.ok);
    ASSERT_TRUE(endByte.peer.Send("abc"));
    ASSERT_TRUE(endByte.scene.WaitForTrace("Network Status Is Not Good."));
    ASSERT_TRUE(endByte.peer.Send("def\x03"));
    EXPECT_EQ("abcdef\x03", endByte.Next());

    Connected marker("netheader=0\nMsgEndData=##");
    ASSERT_TRUE(marker.ok);
    ASSERT_TRUE(marker.peer.Send("abc##X"));
    EXPECT_EQ("abc##X", marker.Next());
    ASSERT_TRUE(marker.peer.Send("abc##"));
    EXPECT_EQ("<none>", marker.Next(100));

    Connected perRead("netheader=3");
    ASSERT_TRUE(perRead.ok);
    ASSERT_TRUE(perRead.peer.Send(Bytes({0, 0, 0, 9}) + "x"));
    EXPECT_EQ(Bytes({0, 0, 0, 9}) + "x", perRead.Next());
}

TEST(FramingEndToEndTest, NegativeLengthNeverCompletes) {
    Connected client("netheader=1");
    ASSERT_TRUE(client.ok);
    ASSERT_TRUE(client.peer.Send(Bytes({0x00, 0x80}) + "0123456789"));
    EXPECT_EQ("<none>", client.Next(200));
    EXPECT_TRUE(client.host.Received().empty());
}

TEST(FramingEndToEndTest, IncompleteMessageIsDiscardedAfterItsTimeOut) {
    static std::atomic<uint32_t> tick{50000};
    platform::SetTickSource([] { return tick.load(); });
    {
        Connected client("netheader=5\n[NetworkPara_client_0]\nRecvDataDelayTimeOut=1000");
        ASSERT_TRUE(client.ok);
        ASSERT_TRUE(client.peer.Send(Bytes({0, 0, 0, 9}) + "lost"));
        ASSERT_TRUE(client.scene.WaitForTrace("Network Status Is Not Good. StartTick(50000)"));
        tick += 2000;
        ASSERT_TRUE(client.peer.Send(Bytes({0, 0, 0, 3}) + "new"));
        EXPECT_EQ("new", client.Next());
        EXPECT_TRUE(client.scene.WaitForTrace(
            ":Network Status Bad. Discard Previous Message! OnReceiveDataTimeOut(1000)(dwElapse=2000). "
            "dwEndTime=52000, dwStartTime=50000\r\n"));
    }
    platform::SetTickSource(nullptr);
}

TEST(FramingEndToEndTest, TransmitRecordsMaskAndRefuseOversize) {
    Connected masked("netheader=5");
    ASSERT_TRUE(masked.ok);
    EXPECT_EQ(24, masked.Send("0123456789ABCDEFGHIJ", "secret", 6));
    EXPECT_TRUE(masked.scene.WaitForTrace("\r\nTRANSMIT:[SLen:20|RLen:24,"));
    EXPECT_TRUE(masked.scene.WaitForTrace("][0000]01234************HIJ\r\n"));
    EXPECT_EQ(std::string::npos, masked.scene.Trace().find("secret"));
    EXPECT_EQ(-1, masked.Send(std::string(102400, 'x')));  // 102404 framed bytes do not fit

    Connected plain("netheader=5\nMaskLog=0");
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(24, plain.Send("0123456789ABCDEFGHIJ", "secret", 6));
    EXPECT_TRUE(plain.scene.WaitForTrace("[SLen:6|RLen:24,"));
    EXPECT_TRUE(plain.scene.WaitForTrace("][0000]secret\r\n"));
}

// Random framed messages sent in random pieces: every message arrives once,
// in order, intact.
TEST(FramingEndToEndTest, RandomSplitsThroughTheSocket) {
    std::mt19937 rng(1204);
    for (int mode : {1, 2, 4, 5}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Connected client("netheader=" + std::to_string(mode));
        ASSERT_TRUE(client.ok);
        client.host.SetRecvDataType(0);
        std::vector<std::string> sent;
        std::string stream;
        for (int i = 0; i < 150; ++i) {
            std::string body(1 + rng() % 2000, '\0');
            for (char& c : body) c = static_cast<char>('A' + rng() % 26);
            sent.push_back(body);
            uint32_t n = static_cast<uint32_t>(body.size());
            if (mode == 1) stream += Bytes({static_cast<int>(n & 0xFF), static_cast<int>(n >> 8)});
            if (mode == 4) stream += Bytes({static_cast<int>(n >> 8), static_cast<int>(n & 0xFF)});
            if (mode == 5) stream += Bytes({0, 0, static_cast<int>(n >> 8), static_cast<int>(n & 0xFF)});
            if (mode == 2) {
                char digits[8];
                std::snprintf(digits, sizeof digits, "%04u", n);
                stream += digits;
            }
            stream += body;
        }
        for (size_t pos = 0; pos < stream.size();) {
            size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % 5000);
            ASSERT_TRUE(client.peer.Send(stream.substr(pos, n)));
            pos += n;
        }
        for (const std::string& body : sent) ASSERT_EQ(body, client.Next());
        EXPECT_EQ("<none>", client.Next(50));
    }
}

}  // namespace
