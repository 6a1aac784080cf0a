#include "WebSocketTestKit.h"

namespace {

using namespace wstest;

TEST_F(WebSocketTest, SampleRequestGetsTheFiveLineReplyAndIsRecorded) {
    stringx accept;
    ws->MakeAcceptKey(kSampleKey, &accept);
    EXPECT_EQ("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=", accept);

    ASSERT_EQ(1, Feed(kSampleRequest));
    EXPECT_EQ(kSampleReply, Sent(sizeof kSampleReply - 1));
    EXPECT_EQ(1, ws->IsHandshakeDone());
    auto lines = ws->Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("[OnReceive(0). recvLen(" + std::to_string(sizeof kSampleRequest - 1) + ")]:[4745]" +
                  std::string(kSampleRequest + 2),
              lines[0].text);
    EXPECT_EQ(1, lines[1].direction);
    const std::string n = std::to_string(sizeof kSampleReply - 1);
    EXPECT_EQ("[SLen:" + n + "|RLen:" + n + "]" + kSampleReply + "\r\n", lines[1].text);

    WS_HANDSHAKE h = ws->Handshake();
    EXPECT_STREQ("GET /chat HTTP/1.1", h.szRequestLine);
    EXPECT_STREQ(" server.example.com", h.szHost);  // values keep the blank after the colon
    EXPECT_STREQ(" Upgrade", h.szConnection);
    EXPECT_STREQ(" 13", h.szSecWebSocketVersion);
    EXPECT_STREQ(kSampleKey, h.szSecWebSocketKey);
}

TEST_F(WebSocketTest, KeyIsTrimmedAndLongValuesAreCutToTheirField) {
    const std::string path(100, 'p');
    const std::string agent(2000, 'u');
    ASSERT_EQ(1, Feed("GET /" + path + "\rUser-Agent:" + agent + "\nSec-WebSocket-Key: \t" + kSampleKey +
                      " \t\r\nPragma: no-cache\r\n"));
    EXPECT_EQ(kSampleReply, Sent(sizeof kSampleReply - 1));
    WS_HANDSHAKE h = ws->Handshake();
    EXPECT_EQ(("GET /" + path).substr(0, 63), h.szRequestLine);
    EXPECT_EQ(agent.substr(0, 1023), h.szUserAgent);
    EXPECT_STREQ(kSampleKey, h.szSecWebSocketKey);
    EXPECT_STREQ(" no-cache", h.szPragma);
}

// Refused requests leave the bytes to the plain framing (result 0) and
// trace why; nothing is sent.
TEST_F(WebSocketTest, RefusedRequestsAreTracedAndAnswerNothing) {
    const std::string head = "GET /chat HTTP/1.1\r\nHost: h\r\n";
    const struct {
        std::string request, trace;
    } cases[] = {
        {head + "sec-websocket-key: " + kSampleKey + "\r\n\r\n",
         "Parse Websocket Handshake Eroor Miss Sec-WebSocket-Key.\r\n"},
        {head + "Sec-WebSocket-Key: " + kSampleKey, "Parse Websocket Handshake Eroor Miss Sec-WebSocket-Key.\r\n" +
                                                         std::string("Sec-WebSocket-Key: ") + kSampleKey},
        // A request split over two reads: the first part lacks the key, the second "GET ".
        {head, "Parse Websocket Handshake Eroor Miss Sec-WebSocket-Key.\r\n"},
        {std::string("Sec-WebSocket-Key: ") + kSampleKey + "\r\n\r\n",
         "Parse Websocket Handshake Eroor .\r\nSec-WebSocket-Key: " + std::string(kSampleKey) + "\r\n\r\n"},
        {"GE", "Parse Websocket Handshake Eroor .\r\nGE"},
        {"get / HTTP/1.1\r\nSec-WebSocket-Key: k\r\n", "Parse Websocket Handshake Eroor .\r\nget / HTTP/1.1"},
    };
    for (const auto& c : cases) {
        ws->Forget();
        EXPECT_EQ(0, Feed(c.request)) << c.request;
        EXPECT_EQ(0, ws->IsHandshakeDone());
        auto lines = ws->Lines();
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(3, lines[1].direction);
        EXPECT_EQ(0u, lines[1].text.find(c.trace)) << lines[1].text;
    }
    EXPECT_EQ("", Sent(0));
}

TEST_F(WebSocketTest, EveryNewConnectionNeedsANewHandshake) {
    const std::string text = Frame(0x81, "hi");
    for (int round = 0; round < 2; ++round) {
        OpenWebSocket();
        ASSERT_EQ(1, Feed(text));
        EXPECT_EQ(std::vector<std::string>{"hi"}, ws->Messages());
        if (round == 0)
            ws->OnClose(0);  // the peer closed
        else
            ws->Close();
        EXPECT_EQ(0, ws->IsHandshakeDone());
        EXPECT_STREQ("", ws->Handshake().szSecWebSocketKey);
        ws->Close();
        Connect();
        ws->Forget();
        EXPECT_EQ(0, Feed(text));  // taken as a failed opening request
        EXPECT_EQ(1u, ws->Count("Parse Websocket Handshake Eroor ."));
    }

    ws->SetWebsocket(0);
    ws->Forget();
    EXPECT_EQ(0, Feed(kSampleRequest));
    EXPECT_TRUE(ws->Lines().empty());
    EXPECT_EQ("", Sent(0));
}

}  // namespace
