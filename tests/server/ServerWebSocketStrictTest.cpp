// A WebSocket server session with "WebsocketStrict" (and mostly
// "SplitReads") on, against raw frames.
#include <gtest/gtest.h>

#include "common/DataBlock.h"
#include "devkit/WsClient.h"
#include "support/Harness.h"
#include "support/Loopback.h"

using namespace testsupport;

namespace {

constexpr const char* kStrictKeys = "IsWebsocket=1\nWebsocketStrict=1\nSplitReads=1";

std::string Status(int code) { return Bytes({code >> 8, code & 0xFF}); }
std::string Masked(int opcode, const std::string& payload, bool fin = true) {
    return devkit::WsClient::EncodeFrame(opcode, payload, fin, true, 7);
}
using Reply = std::pair<int, std::string>;  // opcode, payload
Reply NextFrame(devkit::WsClient& client) {
    Reply frame{0, ""};
    EXPECT_TRUE(client.ReadFrame(&frame.first, &frame.second));
    return frame;
}

struct StrictServer {
    StrictServer() { ok = scene.StartServer(host, kStrictKeys) == 0; }
    bool Connect(devkit::WsClient& client) {
        const int before = host.connects;
        return client.Connect(scene.port) && WaitUntil([&] { return host.connects > before; });
    }
    ServerScene scene;
    EchoingHost host;
    bool ok;
};

TEST(ServerWebSocketStrict, ProtocolErrorsCloseWithTheirStatusCode) {
    StrictServer s;
    ASSERT_TRUE(s.ok);
    std::string reservedBit = Masked(1, "x");
    reservedBit[0] = static_cast<char>(reservedBit[0] | 0x40);
    const struct {
        const char* reason;
        std::string bytes;
        int status;
    } cases[] = {
        {"reserved bits set", reservedBit, 1002},
        {"unmasked client frame", devkit::WsClient::EncodeFrame(1, "x", true, false, 0), 1002},
        {"fragmented control frame", Masked(9, "", false), 1002},
        {"control frame longer than 125 bytes", Masked(9, std::string(126, 'p')), 1002},
        {"reserved opcode", Masked(3, ""), 1002},
        {"continuation frame without a message", Masked(0, "x"), 1002},
        {"new message inside a fragmented one", Masked(1, "a", false) + Masked(2, "b"), 1002},
        {"invalid close code", Masked(8, Status(1005)), 1002},
        {"text message is not UTF-8", Masked(1, "ok\xC3\x28"), 1007},
        {"close reason is not UTF-8", Masked(8, Status(1000) + "\xFF"), 1007},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        devkit::WsClient client;
        ASSERT_TRUE(s.Connect(client));
        ASSERT_TRUE(client.SendRaw(c.bytes + Masked(1, "never read")));
        EXPECT_EQ(Reply(8, Status(c.status)), NextFrame(client));
        EXPECT_TRUE(client.WaitClosed());
        EXPECT_TRUE(WaitUntil([&] { return s.host.GetNetworkStatus() == 1; }));
        EXPECT_TRUE(s.scene.WaitForTrace("Websocket Protocol Error. " + std::string(c.reason) + ". Close(" +
                                         std::to_string(c.status) + ")."));
    }
    EXPECT_TRUE(s.host.Received().empty());
    EXPECT_TRUE(s.host.CloseErrors().empty());
}

TEST(ServerWebSocketStrict, RepliesBinaryAndBlockSizedMessagesAsAStandardServer) {
    StrictServer s;
    ASSERT_TRUE(s.ok);
    devkit::WsClient client;
    ASSERT_TRUE(s.Connect(client));
    const std::string binary = Bytes({0xFF, 0x00, 'b'}), block(kDataBlockBytes, 'x');
    ASSERT_TRUE(client.SendFrame(9, "keep"));
    ASSERT_TRUE(client.SendFrame(2, binary));
    ASSERT_TRUE(client.SendFrame(1, block));
    ASSERT_TRUE(client.SendFrame(8, Status(1000) + "bye"));
    for (const Reply& r : {Reply(10, "keep"), Reply(2, binary), Reply(1, block), Reply(8, Status(1000))})
        EXPECT_TRUE(r == NextFrame(client)) << r.first;  // the host echoes every message
    EXPECT_EQ((std::vector<std::string>{binary, block}), s.host.Received());
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(WaitUntil([&] { return s.host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(s.scene.WaitForTrace("Websocket Close(1000) Answered. Connection Closed."));
    EXPECT_EQ(-1, s.host.SendData("late", 4, 0, nullptr, 0));
}

// The opening handshake comes first, with reads split or not: a host
// message before it is refused and traced, so the peer's first bytes are
// the 101 reply; bytes that are no opening request (a ping frame among them)
// get a 400 reply and the connection closes, and never reach the host.
TEST(ServerWebSocketStrict, OpeningHandshakeComesFirst) {
    for (const std::string& keys : {std::string(kStrictKeys), std::string("IsWebsocket=1\nWebsocketStrict=1")}) {
        SCOPED_TRACE(keys);
        ServerScene scene;
        EchoingHost host;
        std::atomic<int> early{0};
        host.onConnect = [&] { early = host.SendData("early", 5, 0, nullptr, 0); };
        ASSERT_EQ(0, scene.StartServer(host, keys));
        devkit::WsClient client;
        EXPECT_TRUE(client.Connect(scene.port)) << client.reply();
        EXPECT_EQ(-1, early);
        EXPECT_TRUE(scene.WaitForTrace("SendWSFrame Refused. Websocket Handshake Not Done."));
        ASSERT_TRUE(client.SendFrame(1, "hi"));
        EXPECT_EQ(Reply(1, "hi"), NextFrame(client));

        for (const std::string& bytes : {std::string("hello\r\n\r\n"), Masked(9, "ping")}) {
            const int before = host.connects;
            TcpConnection raw;
            ASSERT_TRUE(raw.Connect(scene.port));
            ASSERT_TRUE(WaitUntil([&] { return host.connects > before; }));
            ASSERT_TRUE(raw.Send(bytes));
            EXPECT_EQ("HTTP/1.1 400 ", raw.Receive(13));
            EXPECT_TRUE(raw.WaitClosed());
            EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
        }
        EXPECT_EQ(std::vector<std::string>{"hi"}, host.Received());
    }
}

// Host messages up to a block go out whole in one frame, with the length
// form their size needs, whatever length header the section names. With
// code page conversion a message that grows past a block in UTF-8 is
// refused (-1, traced) rather than cut.
TEST(ServerWebSocketStrict, HostMessagesGoOutWholeOrNotAtAll) {
    const std::string gbk = "\xC4\xE3";  // one character, three bytes in UTF-8
    auto repeat = [](const std::string& unit, size_t times) {
        std::string text;
        for (size_t i = 0; i < times; ++i) text += unit;
        return text;
    };
    const struct {
        std::string keys;
        std::string message, sent;  // `sent` empty: refused
    } cases[] = {
        {"netheader=4", std::string(65535, 'a'), std::string(65535, 'a')},
        {"netheader=4", std::string(65536, 'b'), std::string(65536, 'b')},
        {"netheader=5", std::string(kDataBlockBytes, 'c'), std::string(kDataBlockBytes, 'c')},
        {"IsUTF8TextData=1\nUTF8TextCodePage=936", repeat(gbk, 34000), repeat("\xE4\xBD\xA0", 34000)},
        {"IsUTF8TextData=1\nUTF8TextCodePage=936", repeat(gbk, kDataBlockBytes / 2), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys + " " + std::to_string(c.message.size()));
        ServerScene scene;
        RecordingHost host;
        ASSERT_EQ(0, scene.StartServer(host, std::string(kStrictKeys) + "\n" + c.keys));
        devkit::WsClient client;
        ASSERT_TRUE(client.Connect(scene.port));
        ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
        const int result = host.SendData(c.message.data(), static_cast<int>(c.message.size()), 0, nullptr, 0);
        EXPECT_EQ(c.sent.empty(), result < 0) << result;
        EXPECT_GT(host.SendData("end", 3, 0, nullptr, 0), 0);
        EXPECT_TRUE(c.sent.empty() ? scene.WaitForTrace("SendWSFrame Refused. Message Too Long(")
                                   : Reply(1, c.sent) == NextFrame(client));
        EXPECT_EQ(Reply(1, "end"), NextFrame(client));
    }
}

}  // namespace
