// Split reads: requests and frames across reads, several frames in one read.
// That no cut of a stream changes what it gives is the websocket fuzz
// target's job.
#include "WebSocketTestKit.h"

namespace {

using namespace wstest;

class SplitReadsTest : public WebSocketTest {
protected:
    void SetUp() override {
        WebSocketTest::SetUp();
        ws->SetSplitReads(1);
    }
    // Feeds `bytes` in reads cut at `cuts` (offsets, ascending).
    void FeedCut(const std::string& bytes, const std::vector<size_t>& cuts) {
        size_t from = 0;
        for (size_t cut : cuts) {
            ASSERT_EQ(1, Feed(bytes.substr(from, cut - from)));
            from = cut;
        }
        ASSERT_EQ(1, Feed(bytes.substr(from)));
    }
};

// The whole stream in one read: the request and every frame come out of it.
// One request cut over reads; that every other cut gives the same messages
// and replies is the websocket fuzz target's check.
TEST_F(SplitReadsTest, RequestAndFramesShareAReadAndSpanReads) {
    const std::string frames = Frame(0x81, "one", "abcd") + Frame(0x01, "tw", "efgh") + Frame(0x80, "o", "ijkl") +
                               Frame(0x89, "") + Frame(0x82, "bin") + Frame(0x81, std::string(70000, 't'), "mnop");
    FeedCut(kSampleRequest + frames + Frame(0x81, "last"), {10, 60, kSampleRequest.size() + 1});
    EXPECT_EQ((Strings{"one", "two", "bin", std::string(70000, 't'), "last"}), ws->Messages());
    EXPECT_EQ(kSampleReply + Bytes({0x8A, 0, 0x88, 0}), Sent(kSampleReply.size() + 4));  // pong, close
}

TEST_F(SplitReadsTest, OversizeFramesAndRequestsAreDropped) {
    Open();
    const std::string big = Frame(0x81, std::string(kDataBlockBytes + 1, 'x'), "abcd");
    FeedCut(Frame(0x81, "before") + big + Frame(0x81, "after"), {3000, 50000, 100000});
    EXPECT_EQ((Strings{"before", "after"}), ws->Messages());
    EXPECT_EQ(1u, ws->Count("3|OnReceive. Frame Too Long(102401). Message Dropped.\r\n"));

    // A fragmented message with an oversize fragment is dropped whole.
    FeedCut(Frame(0x01, "a") + Frame(0x00, std::string(kDataBlockBytes + 1, 'y')) + Frame(0x80, "b") + Frame(0x81, "c"),
            {1000});
    EXPECT_EQ((Strings{"before", "after", "c"}), ws->Messages());

    ws->Close();
    Connect();
    const std::string endless = "GET / HTTP/1.1\r\nX: " + std::string(CWebSocket::kMaxRequestBytes, 'h');
    EXPECT_EQ(1, Feed(endless.substr(0, 5000)));
    EXPECT_EQ(0, Feed(endless.substr(5000)));
    EXPECT_EQ(1u, ws->Count("3|Websocket Handshake Refused. No Blank Line Within 8192 Bytes.\r\n"));
    EXPECT_EQ(0, Feed("POST / HTTP/1.1\r\n\r\n"));  // not a request, at once, as designed
    EXPECT_EQ(1, Feed(kSampleRequest));
    EXPECT_EQ(kSampleReply, Sent(kSampleReply.size()));
}

}  // namespace
