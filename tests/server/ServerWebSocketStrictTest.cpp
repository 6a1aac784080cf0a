// A WebSocket server session with "WebsocketStrict" and "SplitReads" on,
// against raw frames.
#include <gtest/gtest.h>

#include "common/DataBlock.h"
#include "devkit/WsClient.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

constexpr const char* kStrictKeys = "IsWebsocket=1\nWebsocketStrict=1\nSplitReads=1";

std::string Status(int code) { return Bytes({code >> 8, code & 0xFF}); }

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
    std::string reservedBit = devkit::WsClient::EncodeFrame(1, "x", true, true, 7);
    reservedBit[0] = static_cast<char>(reservedBit[0] | 0x40);
    const struct {
        const char* reason;
        std::string bytes;
        int status;
    } cases[] = {
        {"reserved bits set", reservedBit, 1002},
        {"unmasked client frame", devkit::WsClient::EncodeFrame(1, "x", true, false, 0), 1002},
        {"fragmented control frame", devkit::WsClient::EncodeFrame(9, "", false, true, 7), 1002},
        {"control frame longer than 125 bytes", devkit::WsClient::EncodeFrame(9, std::string(126, 'p'), true, true, 7),
         1002},
        {"reserved opcode", devkit::WsClient::EncodeFrame(3, "", true, true, 7), 1002},
        {"continuation frame without a message", devkit::WsClient::EncodeFrame(0, "x", true, true, 7), 1002},
        {"new message inside a fragmented one",
         devkit::WsClient::EncodeFrame(1, "a", false, true, 7) + devkit::WsClient::EncodeFrame(2, "b", true, true, 7),
         1002},
        {"invalid close code", devkit::WsClient::EncodeFrame(8, Status(1005), true, true, 7), 1002},
        {"text message is not UTF-8", devkit::WsClient::EncodeFrame(1, "ok\xC3\x28", true, true, 7), 1007},
        {"close reason is not UTF-8", devkit::WsClient::EncodeFrame(8, Status(1000) + "\xFF", true, true, 7), 1007},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        devkit::WsClient client;
        ASSERT_TRUE(s.Connect(client));
        ASSERT_TRUE(client.SendRaw(c.bytes + devkit::WsClient::EncodeFrame(1, "never read", true, true, 7)));
        int opcode = 0;
        std::string payload;
        ASSERT_TRUE(client.ReadFrame(&opcode, &payload));
        EXPECT_EQ(8, opcode);
        EXPECT_EQ(Status(c.status), payload);
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
    const struct {
        int opcode;
        std::string payload;
    } replies[] = {{10, "keep"}, {2, binary}, {1, block}, {8, Status(1000)}};  // the host echoes every message
    for (const auto& r : replies) {
        int opcode = 0;
        std::string payload;
        ASSERT_TRUE(client.ReadFrame(&opcode, &payload));
        EXPECT_EQ(r.opcode, opcode);
        EXPECT_EQ(r.payload, payload);
    }
    EXPECT_EQ((std::vector<std::string>{binary, block}), s.host.Received());
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(WaitUntil([&] { return s.host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(s.scene.WaitForTrace("Websocket Close(1000) Answered. Connection Closed."));
    EXPECT_EQ(-1, s.host.SendData("late", 4, 0, nullptr, 0));
}

}  // namespace
