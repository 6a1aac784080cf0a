#include "WebSocketTestKit.h"

namespace {

using namespace wstest;

TEST_F(WebSocketTest, SampleRequestGetsTheFiveLineReply) {
    ASSERT_EQ(1, Feed(kSampleRequest));
    EXPECT_EQ(kSampleReply, Sent(kSampleReply.size()));
    const std::string n = std::to_string(kSampleReply.size());
    EXPECT_EQ((Strings{"0|[OnReceive(0). recvLen(" + std::to_string(kSampleRequest.size()) + ")]:[4745]" +
                           kSampleRequest.substr(2),
                       "1|[SLen:" + n + "|RLen:" + n + "]" + kSampleReply + "\r\n"}),
              ws->Lines());
    WS_HANDSHAKE h = ws->Handshake();
    EXPECT_STREQ(" server.example.com", h.szHost);  // values keep the blank after the colon
    EXPECT_STREQ("dGhlIHNhbXBsZSBub25jZQ==", h.szSecWebSocketKey);
}

TEST_F(WebSocketTest, KeyIsTrimmedAndLongValuesAreCut) {
    const std::string path = "GET /" + std::string(100, 'p'), agent(2000, 'u');
    ASSERT_EQ(1, Feed(path + "\rUser-Agent:" + agent + "\nSec-WebSocket-Key: \tdGhlIHNhbXBsZSBub25jZQ== \t\r\n"));
    EXPECT_EQ(kSampleReply, Sent(kSampleReply.size()));
    WS_HANDSHAKE h = ws->Handshake();
    EXPECT_EQ(path.substr(0, 63), h.szRequestLine);
    EXPECT_EQ(agent.substr(0, 1023), h.szUserAgent);
}

// Refused requests go back to the plain framing (0), traced, answered with nothing.
TEST_F(WebSocketTest, RefusedRequestsAreTraced) {
    const std::string head = "GET / HTTP/1.1\r\n", key = "Sec-WebSocket-Key: k\r\n";
    const std::string miss = "3|Parse Websocket Handshake Eroor Miss Sec-WebSocket-Key.\r\n";
    const std::string notGet = "3|Parse Websocket Handshake Eroor .\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {head + "sec-websocket-key: k\r\n\r\n", miss},
        {head + "Sec-WebSocket-Key: k", miss + "Sec-WebSocket-Key: k"},  // the text after the last line break
        {head, miss},                                                   // a request split over two reads
        {key, notGet + key},
        {"GE", notGet + "GE"},
    };
    for (const auto& [request, trace] : cases) {
        ws->Forget();
        EXPECT_EQ(0, Feed(request)) << request;
        EXPECT_EQ(0, ws->IsHandshakeDone());
        ASSERT_EQ(2u, ws->Lines().size());
        EXPECT_EQ(trace, ws->Lines()[1]);
    }
    EXPECT_EQ("", Sent(0));
}

TEST_F(WebSocketTest, EveryNewConnectionNeedsANewHandshake) {
    for (int round = 0; round < 2; ++round) {
        Open();
        ASSERT_EQ(1, Feed(Frame(0x81, "hi")));
        round == 0 ? ws->OnClose(0) : ws->Close();
        EXPECT_EQ(0, ws->IsHandshakeDone());
        EXPECT_STREQ("", ws->Handshake().szSecWebSocketKey);
        ws->Close();
        Connect();
        EXPECT_EQ(0, Feed(Frame(0x81, "hi")));  // taken as an opening request
        EXPECT_EQ(1u, ws->Count("Parse Websocket Handshake Eroor ."));
        EXPECT_EQ(Strings{"hi"}, ws->Messages());
    }
    ws->SetWebsocket(0);
    ws->Forget();
    EXPECT_EQ(0, Feed(kSampleRequest));
    EXPECT_TRUE(ws->Lines().empty());
}

}  // namespace
