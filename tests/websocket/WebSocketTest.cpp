#if TOLVANE_HAVE_TLS
#include <openssl/evp.h>
#endif

#include <random>
#include <thread>

#include "WebSocketTestKit.h"
#include "support/TestSupport.h"
#include "websocket/Base64.h"
#include "websocket/Sha1.h"

namespace {

// OpenSSL's SHA-1 is the reference (a build without TLS has no OpenSSL).
#if TOLVANE_HAVE_TLS
std::string OpenSslSha1(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha1(), nullptr);
    return std::string(md, md + n);
}

std::string Digest(SHA1& sha) {
    uint32_t words[5];
    std::string bytes;
    if (!sha.Finish(words)) return "corrupted";
    for (int i = 0; i < 20; ++i) bytes += static_cast<char>(words[i / 4] >> (24 - 8 * (i % 4)));
    return bytes;
}

// The FIPS 180 examples and random inputs of every length 0..300 (across the
// padding boundaries), fed in random pieces through the different forms.
TEST(Sha1Test, DigestsMatchOpenSsl) {
    std::mt19937 random(9);
    std::vector<std::string> inputs = {"abc", "", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                                       std::string(1000000, 'a')};
    for (size_t length = 0; length <= 300; ++length) {
        inputs.emplace_back(length, '\0');
        for (char& c : inputs.back()) c = static_cast<char>(random());
    }
    SHA1 sha;
    for (const std::string& data : inputs) {
        sha.Reset();
        for (size_t at = 0, piece = 0; at < data.size(); at += piece) {
            piece = std::min<size_t>(data.size() - at, random() % 70);
            if (piece % 3 == 2) {
                sha << static_cast<unsigned char>(data[at]);
                piece = 1;
            } else if (piece % 3 == 1) {
                sha.Update(reinterpret_cast<const unsigned char*>(data.data()) + at, static_cast<unsigned>(piece));
            } else {
                sha.Update(data.data() + at, static_cast<unsigned>(piece));
            }
        }
        EXPECT_EQ(OpenSslSha1(data), Digest(sha)) << "length " << data.size();
    }
    sha.Reset();
    sha << "abc";
    EXPECT_EQ(OpenSslSha1("abc"), Digest(sha));
    EXPECT_EQ(OpenSslSha1("abc"), Digest(sha));  // padded once only
    sha << 'd';
    EXPECT_EQ("corrupted", Digest(sha));  // input after Finish
}
#endif

TEST(Base64Test, Rfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="}};
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(out, Base64Encode(reinterpret_cast<const unsigned char*>(in.data()), in.size()));
}

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

class FrameTest : public WebSocketTest {
protected:
    void SetUp() override {
        WebSocketTest::SetUp();
        Open();
    }
    int SendText(const std::string& text) {
        return ws->SendWSFrame(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    }
};

TEST_F(FrameTest, TextFramesAndFragmentsReachTheHost) {
    ASSERT_EQ(1, Feed(Bytes({0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58})));  // masked "Hello"
    EXPECT_EQ(Strings{"2|Hello\r\n"}, ws->Lines());
    ASSERT_EQ(1, Feed(Frame(0x01, "Hel", "abcd")));
    ASSERT_EQ(1, Feed(Frame(0x00, "lo, ")));
    ASSERT_EQ(1, Feed(Frame(0x80, "world") + Frame(0x81, "ignored")));  // one frame per read
    EXPECT_EQ((Strings{"Hello", "Hello, world"}), ws->Messages());
    EXPECT_EQ(1u, ws->Count("0|OnReceive(Len=3). bCombineData"));
    EXPECT_EQ(1u, ws->Count("0|OnReceive(Len=4). bCombineData"));
    std::string big(65600, 'x');  // the 8-byte length form
    ASSERT_EQ(1, Feed(Frame(0x81, big, "\x11\x22\x33\x44", 127)));
    EXPECT_EQ(big, ws->Messages().back());
    EXPECT_EQ("", Sent(0));
}

// Control, binary and unknown frames are answered; any payload still reaches
// the host, and the first empty message of a connection is traced.
TEST_F(FrameTest, FramesAreAnsweredByOpcode) {
    const std::string pong = Bytes({0x8A, 0x00}), close = Bytes({0x88, 0x00});
    const struct {
        std::string read, reply, message;
    } cases[] = {
        {Frame(0x89, ""), pong, ""},
        {Frame(0x89, "", "mask"), pong, ""},
        {Frame(0x88, Bytes({0x03, 0xE8}), "abcd"), close, Bytes({0x03, 0xE8})},
        {Frame(0x82, Bytes({0x00, 0x01})), close, Bytes({0x00, 0x01})},
        {Frame(0x83, ""), close, ""},
        {Frame(0x8A, "p"), "", "p"},
        {Frame(0x01, "part"), "", ""},
        {Frame(0x89, "!"), pong, "part!"},  // a ping ends the fragmented message
    };
    for (int connection = 0; connection < 2; ++connection) {
        for (const auto& c : cases) {
            ws->Forget();
            ASSERT_EQ(1, Feed(c.read));
            EXPECT_EQ(c.reply, Sent(c.reply.size()));
            EXPECT_EQ(c.message.empty() ? Strings{} : Strings{c.message}, ws->Messages());
            EXPECT_EQ(&c == cases ? 1u : 0u, ws->Count("0|StartHeartbeat(PING_FRAME(9),PONG_FRAME(10)) iOpcode(9)..."));
            EXPECT_EQ(&c == cases ? 1u : 0u, ws->Count("0|[OnReceive(0). recvLen(2)]:[8900]"));
        }
        ws->Close();
        Connect();
        Open();
    }
}

TEST_F(FrameTest, HostMessagesGoOutAsOneTextFrameBelow32768Bytes) {
    const std::pair<size_t, std::string> cases[] = {
        {0, Bytes({0x81, 0})}, {125, Bytes({0x81, 125})}, {126, Bytes({0x81, 126, 0, 126})},
        {32767, Bytes({0x81, 126, 0x7F, 0xFF})}};
    for (const auto& [length, header] : cases) {
        EXPECT_EQ(static_cast<int>(header.size() + length), SendText(std::string(length, 'x')));
        EXPECT_EQ(header + std::string(length, 'x'), Sent(header.size() + length));
    }
    EXPECT_EQ(0, SendText(std::string(32768, 'x')));
    EXPECT_EQ(Strings{"3|PackWSFrameInfo Error. ulMsgLen=32768. Exceed Max\r\n"}, ws->Lines());
    EXPECT_EQ("", Sent(0));
}

TEST_F(FrameTest, BadFramesAreRefusedAndTraced) {
    const std::string error = "3|ParseWSFrameInfo Error. nBufLen=";
    const std::pair<std::string, std::string> cases[] = {
        {Bytes({0xC1, 0x01, 'a'}), "3|ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=64"},
        {Bytes({0xF1, 0x00}), "3|ParseWSFrameInfo Resver Must Be 0.\r\n    lpBuf[0]&0x70=112"},
        {Frame(0x81, "hello").substr(0, 5), error + "5, iPos=2, iPayloadLength=5.\r\n"},
        {Frame(0x81, "hello", "abcd").substr(0, 5), error + "5, iPos=6, iPayloadLength=5.\r\n"},
        {Frame(0x81, std::string(300, 'x')).substr(0, 200), error + "200, iPos=4, iPayloadLength=300.\r\n"},
        {Bytes({0x81, 0x7F, 0, 0, 0}), error + "5, iPos=10, iPayloadLength=127.\r\n"},
        {Bytes({0x81, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 'x'}), error + "15, iPos=14, iPayloadLength=0.\r\n"},
        {Bytes({0x81}), error + "1, iPos=2, iPayloadLength=0.\r\n"},
    };
    for (const auto& [read, trace] : cases) {
        ws->Forget();
        ASSERT_EQ(1, Feed(read));
        ASSERT_EQ(2u, ws->Lines().size());
        EXPECT_EQ(trace, ws->Lines()[0]);
        EXPECT_EQ(0u, ws->Lines()[1].find("0|[OnReceive(0). recvLen(" + std::to_string(read.size()) + ")]:["));
    }
    EXPECT_TRUE(ws->Messages().empty());
    EXPECT_EQ("", Sent(0));
}

TEST_F(FrameTest, FragmentsBeyondABlockDropTheirMessage) {
    const std::string big(60000, 'b'), full(kDataBlockBytes - 1, 'c');
    for (const std::string& read : {Frame(0x01, big), Frame(0x00, big), Frame(0x00, "rest"), Frame(0x80, "end"),
                                    Frame(0x81, "next"), Frame(0x01, full), Frame(0x80, "d")})
        ASSERT_EQ(1, Feed(read));
    EXPECT_EQ((Strings{"next", full + "d"}), ws->Messages());
    EXPECT_EQ(1u, ws->Count("3|OnReceive(Len=60000). Combined Message Too Long(120000). Message Dropped.\r\n"));
}

TEST_F(FrameTest, TextIsConvertedBetweenUtf8AndCodePage936) {
    ws->SetUTF8TextData(1);
    ws->SetUTF8TextCodePage(936);
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 ok", gbk = "\xD6\xD0\xCE\xC4 ok", cut = std::string(1, '\0') + "x";
    ASSERT_EQ(1, Feed(Frame(0x81, utf8, "mask")));
    ASSERT_EQ(1, Feed(Frame(0x81, utf8 + cut)));
    EXPECT_EQ((Strings{gbk, gbk}), ws->Messages());
    EXPECT_EQ(11, SendText(gbk + cut));
    EXPECT_EQ(Bytes({0x81, 0x09}) + utf8, Sent(11));
}

// Random and mutated reads: all length forms with declared lengths up to
// 2^64 - 1, masks, opcodes, reserved bits, truncations, fragments beyond a
// block, broken opening requests. The sanitizers catch any access past a
// buffer; the blocks must keep sound lengths and zero tails.
TEST_F(WebSocketTest, RandomAndMutatedReadsNeverBreakTheBlocks) {
    std::mt19937_64 random(20240501);
    auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::string pool(80000, '\0');
    for (char& c : pool) c = static_cast<char>(random());
    const Strings paths = {"bCombineData", "Dropped", "Resver", "ParseWSFrameInfo Error", "Eroor", "[SLen:"};
    std::vector<size_t> seen(paths.size());
    ws->SetUTF8TextCodePage(936);
    for (int i = 1; i <= 5000; ++i) {
        int byte0 = static_cast<int>(random() & (below(10) ? 0x8F : 0xFF));  // mostly valid reserved bits
        if (below(4)) byte0 &= 0xF1;                                         // mostly text and continuation
        const size_t length = below(3) ? below(200) : below(70000);
        std::string read = Frame(byte0, pool.substr(below(pool.size() - length), length),
                                 below(2) ? pool.substr(below(100), 4) : "", below(3) ? 0 : length < 65536 ? 126 : 127);
        if (!below(8)) read.replace(1, 9, Bytes({read[1] | 0x7F}) + pool.substr(below(100), 8));  // any 64-bit length
        if (!ws->IsHandshakeDone() && below(2)) read = kSampleRequest;
        if (!below(5)) read.resize(below(read.size() + 1));
        if (!below(6) && !read.empty()) read[below(read.size())] = static_cast<char>(random());
        if (!below(20)) read += Frame(0x81, "after");
        Feed(read.substr(0, kDataBlockBytes));
        if (i % 1000 == 0) ws->ResetWebSocket();
        if (i % 700 == 0) ws->SetUTF8TextData(i % 1400 ? 1 : 0);
        if (i % 250 == 0) {
            ASSERT_TRUE(ws->BlocksAreSound()) << "after read " << i;
            for (size_t p = 0; p < paths.size(); ++p) seen[p] += ws->Count(paths[p]);
            ws->Forget();
        }
    }
    for (size_t p = 0; p < paths.size(); ++p) EXPECT_GT(seen[p], 0u) << paths[p];  // every path was taken
}

// The notification thread reads and decodes while a host thread sends and
// changes the settings; the peer's close resets the connection state.
TEST(WebSocketThreadsTest, ReadingThreadAndSendingHostShareTheConnection) {
    testsupport::LoopbackPeer peer;
    auto ws = std::make_unique<RecordingWebSocket>();
    ws->SetWebsocket(1);
    ASSERT_TRUE(ws->Create(0, nullptr, 1, platform::kFdRead | platform::kFdClose));
    ws->Connect("127.0.0.1", peer.port());
    ASSERT_TRUE(peer.Accept(2000) && peer.Send(kSampleRequest));
    ASSERT_EQ(kSampleReply, peer.Receive(kSampleReply.size(), 2000));
    std::thread host([&] {
        for (int i = 0; i < 200; ++i) {
            ws->SendWSFrame(reinterpret_cast<const unsigned char*>("abc"), 3);
            ws->SetUTF8TextData(i % 2);
            ws->SetUTF8TextCodePage(i % 3 ? 936 : 0);
        }
    });
    for (size_t i = 1; i <= 50; ++i) {
        ASSERT_TRUE(peer.Send(Frame(0x81, "m" + std::to_string(i), "key!")));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return ws->Messages().size() == i; }));
    }
    host.join();
    std::string frames;
    for (int i = 0; i < 200; ++i) frames += "\x81\x03" "abc";
    EXPECT_EQ(frames, peer.Receive(frames.size(), 2000));
    peer.Close();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return ws->IsHandshakeDone() == 0; }));
}

}  // namespace
