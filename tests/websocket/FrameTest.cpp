#include "WebSocketTestKit.h"

namespace {

using namespace wstest;
using Messages = std::vector<std::string>;

class FrameTest : public WebSocketTest {
protected:
    void SetUp() override {
        WebSocketTest::SetUp();
        OpenWebSocket();
    }
    int SendText(const std::string& text) {
        return ws->SendWSFrame(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    }
};

TEST_F(FrameTest, MaskedTextFrameReachesTheHostUnmasked) {
    ASSERT_EQ(1, Feed(Bytes({0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58})));
    EXPECT_EQ(Messages{"Hello"}, ws->Messages());
    EXPECT_TRUE(ws->MessagesCameInTheirBlock());
    ASSERT_EQ(1u, ws->Lines().size());
    EXPECT_EQ(2, ws->Lines()[0].direction);
    EXPECT_EQ("Hello\r\n", ws->Lines()[0].text);
    EXPECT_EQ("", Sent(0));
}

TEST_F(FrameTest, FragmentsAreJoinedIntoOneMessage) {
    ASSERT_EQ(1, Feed(Frame(0x01, "Hel", "abcd")));
    ASSERT_EQ(1, Feed(Frame(0x00, "lo, ")));
    EXPECT_TRUE(ws->Messages().empty());
    ASSERT_EQ(1, Feed(Frame(0x80, "world")));
    EXPECT_EQ(Messages{"Hello, world"}, ws->Messages());
    EXPECT_EQ(1u, ws->Count("OnReceive(Len=3). bCombineData"));
    EXPECT_EQ(1u, ws->Count("OnReceive(Len=4). bCombineData"));
    EXPECT_EQ("", Sent(0));
}

// Each control or binary frame is answered; its payload still reaches the host.
TEST_F(FrameTest, ControlAndBinaryFramesAreAnsweredAndTheirPayloadDelivered) {
    const struct {
        std::string frame, reply, message;
    } cases[] = {
        {Frame(0x89, ""), Bytes({0x8A, 0x00}), ""},
        {Frame(0x89, "", "mask"), Bytes({0x8A, 0x00}), ""},
        {Frame(0x88, Bytes({0x03, 0xE8}), "abcd"), Bytes({0x88, 0x00}), Bytes({0x03, 0xE8})},
        {Frame(0x82, Bytes({0x01, 0x02, 0x03})), Bytes({0x88, 0x00}), Bytes({0x01, 0x02, 0x03})},
        {Frame(0x83, ""), Bytes({0x88, 0x00}), ""},
        {Frame(0x8A, "pong"), "", "pong"},
    };
    for (const auto& c : cases) {
        ws->Forget();
        ASSERT_EQ(1, Feed(c.frame));
        EXPECT_EQ(c.reply, Sent(c.reply.size()));
        EXPECT_EQ(c.message.empty() ? Messages{} : Messages{c.message}, ws->Messages());
    }
    // A ping in the middle of a fragmented text ends that message.
    ws->Forget();
    ASSERT_EQ(1, Feed(Frame(0x01, "part")));
    ASSERT_EQ(1, Feed(Frame(0x89, "!")));
    EXPECT_EQ(Messages{"part!"}, ws->Messages());
    EXPECT_EQ(Bytes({0x8A, 0x00}), Sent(2));
}

TEST_F(FrameTest, FirstEmptyMessageOfEachConnectionIsTraced) {
    for (int connection = 0; connection < 2; ++connection) {
        for (int ping = 0; ping < 3; ++ping) ASSERT_EQ(1, Feed(Frame(0x89, "")));
        EXPECT_EQ(1u, ws->Count("StartHeartbeat(PING_FRAME(9),PONG_FRAME(10)) iOpcode(9)..."));
        EXPECT_EQ(1u, ws->Count("[OnReceive(0). recvLen(2)]:[8900]"));
        EXPECT_TRUE(ws->Messages().empty());
        EXPECT_EQ(Bytes({0x8A, 0x00, 0x8A, 0x00, 0x8A, 0x00}), Sent(6));
        ws->Close();
        Connect();
        OpenWebSocket();
    }
}

TEST_F(FrameTest, HostMessagesGoOutAsOneTextFrameBelow32768Bytes) {
    const struct {
        size_t length;
        std::string header;
    } cases[] = {
        {0, Bytes({0x81, 0x00})},
        {125, Bytes({0x81, 0x7D})},
        {126, Bytes({0x81, 0x7E, 0x00, 0x7E})},
        {32767, Bytes({0x81, 0x7E, 0x7F, 0xFF})},
    };
    for (const auto& c : cases) {
        const std::string text(c.length, 'x');
        EXPECT_EQ(static_cast<int>(c.header.size() + c.length), SendText(text));
        EXPECT_EQ(c.header + text, Sent(c.header.size() + c.length));
    }
    EXPECT_EQ(0, SendText(std::string(32768, 'x')));
    EXPECT_EQ(1u, ws->Count("PackWSFrameInfo Error. ulMsgLen=32768. Exceed Max\r\n"));
    EXPECT_EQ("", Sent(0));
}

TEST_F(FrameTest, PackRefusesBuffersTooSmall) {
    unsigned char frame[16] = {0};
    const unsigned char payload[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    unsigned length = 7;
    EXPECT_EQ(0, ws->PackWSFrameInfo(payload, 1, frame, &length, 1));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(1u, ws->Count("PackWSFrameInfo Error. iBufLen=7. Exceed Min.\r\n"));
    length = 12;  // header and payload need 12: the frame must fit with room to spare
    EXPECT_EQ(0, ws->PackWSFrameInfo(payload, 10, frame, &length, 1));
    EXPECT_EQ(1u, ws->Count("PackWSFrameInfo Error. iBufLen=12. Exceed ulHeadLen(2)+ulMsgLen(10)\r\n"));
    EXPECT_EQ(0, frame[0]);
    length = 13;
    EXPECT_EQ(1, ws->PackWSFrameInfo(payload, 10, frame, &length, 2));
    EXPECT_EQ(12u, length);
    EXPECT_EQ(Bytes({0x82, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), std::string(frame, frame + 12));
}

TEST_F(FrameTest, FrameInTheEightByteFormIsDecodedWhole) {
    std::string payload(65600, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(1, Feed(Frame(0x81, payload, "\x11\x22\x33\x44", 127)));
    EXPECT_EQ(Messages{payload}, ws->Messages());
}

TEST_F(FrameTest, ReservedBitsAndShortReadsAreRefused) {
    const struct {
        std::string read, trace;
    } cases[] = {
        {Bytes({0xC1, 0x01, 'a'}), "ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=64"},
        {Bytes({0xF1, 0x00}), "ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=112"},
        {Frame(0x81, "hello").substr(0, 5), "ParseWSFrameInfo Error. nBufLen=5, iPos=2, iPayloadLength=5.\r\n"},
        {Frame(0x81, "hello", "abcd").substr(0, 5), "ParseWSFrameInfo Error. nBufLen=5, iPos=6, iPayloadLength=5.\r\n"},
        {Frame(0x81, std::string(300, 'x')).substr(0, 200),
         "ParseWSFrameInfo Error. nBufLen=200, iPos=4, iPayloadLength=300.\r\n"},
        {Bytes({0x81, 0x7F, 0, 0, 0}), "ParseWSFrameInfo Error. nBufLen=5, iPos=10, iPayloadLength=127.\r\n"},
        {Bytes({0x81, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 'x'}),
         "ParseWSFrameInfo Error. nBufLen=15, iPos=14, iPayloadLength=0.\r\n"},
        {Bytes({0x81}), "ParseWSFrameInfo Error. nBufLen=1, iPos=2, iPayloadLength=0.\r\n"},
    };
    for (const auto& c : cases) {
        ws->Forget();
        ASSERT_EQ(1, Feed(c.read));
        auto lines = ws->Lines();
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(3, lines[0].direction);
        EXPECT_EQ(c.trace, lines[0].text);
        EXPECT_EQ(0u, lines[1].text.find("[OnReceive(0). recvLen(" + std::to_string(c.read.size()) + ")]:["));
        EXPECT_TRUE(ws->Messages().empty());
    }
    EXPECT_EQ("", Sent(0));
    // Only the first frame of a read counts; the next read starts a frame.
    ws->Forget();
    ASSERT_EQ(1, Feed(Frame(0x81, "one") + Frame(0x81, "two")));
    ASSERT_EQ(1, Feed(Frame(0x81, "three")));
    EXPECT_EQ((Messages{"one", "three"}), ws->Messages());
}

TEST_F(FrameTest, FragmentsBeyondABlockDropTheMessageAndTheNextStartsClean) {
    const std::string big(60000, 'b');
    ASSERT_EQ(1, Feed(Frame(0x01, big)));
    ASSERT_EQ(1, Feed(Frame(0x00, big)));
    ASSERT_EQ(1, Feed(Frame(0x00, "rest of the dropped message")));
    ASSERT_EQ(1, Feed(Frame(0x80, "its end")));
    ASSERT_EQ(1, Feed(Frame(0x81, "next")));
    EXPECT_EQ(Messages{"next"}, ws->Messages());
    EXPECT_EQ(1u, ws->Count("OnReceive(Len=60000). Combined Message Too Long(120000). Message Dropped.\r\n"));

    // A message that fills the block exactly is still whole.
    ws->Forget();
    ASSERT_EQ(1, Feed(Frame(0x01, std::string(kDataBlockBytes - 1, 'c'))));
    ASSERT_EQ(1, Feed(Frame(0x80, "d")));
    ASSERT_EQ(1u, ws->Messages().size());
    EXPECT_EQ(std::string(kDataBlockBytes - 1, 'c') + "d", ws->Messages()[0]);
}

TEST_F(FrameTest, TextIsConvertedBetweenUtf8AndCodePage936) {
    ws->SetUTF8TextData(1);
    ws->SetUTF8TextCodePage(936);
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 ok", gbk = "\xD6\xD0\xCE\xC4 ok";
    ASSERT_EQ(1, Feed(Frame(0x81, utf8, "mask")));
    ASSERT_EQ(1, Feed(Frame(0x81, utf8 + std::string(1, '\0') + "cut")));
    EXPECT_EQ((Messages{gbk, gbk}), ws->Messages());

    EXPECT_EQ(11, SendText(gbk + std::string(1, '\0') + "cut"));
    EXPECT_EQ(Bytes({0x81, 0x09}) + utf8, Sent(11));
}

}  // namespace
