#include <thread>

#include "WebSocketTestKit.h"
#include "support/TestSupport.h"

namespace {

using namespace wstest;

// The notification thread reads and decodes while a host thread sends and
// changes the settings, and the peer's close resets the connection state.
TEST(WebSocketThreadsTest, ReadingThreadAndSendingHostShareTheConnection) {
    testsupport::LoopbackPeer peer;
    auto ws = std::make_unique<RecordingWebSocket>();
    ws->SetWebsocket(1);
    ws->SetUTF8TextCodePage(936);
    ASSERT_TRUE(ws->Create(0, nullptr, 1, FD_READ | FD_CLOSE));
    ws->Connect("127.0.0.1", peer.port());
    ASSERT_TRUE(peer.Accept(2000));
    ASSERT_TRUE(peer.Send(kSampleRequest));
    ASSERT_EQ(kSampleReply, peer.Receive(sizeof kSampleReply - 1, 2000));

    constexpr int kSends = 200, kMessages = 50;
    std::thread host([&] {
        for (int i = 0; i < kSends; ++i) {
            ws->SendWSFrame(reinterpret_cast<const unsigned char*>("abc"), 3);
            ws->SetUTF8TextData(i % 2);
            ws->SetUTF8TextCodePage(i % 3 ? 936 : 0);
        }
    });
    for (int i = 0; i < kMessages; ++i) {
        ASSERT_TRUE(peer.Send(Frame(0x81, "m" + std::to_string(i), "key!")));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return ws->Messages().size() == static_cast<size_t>(i + 1); }));
    }
    host.join();
    std::string frames;
    for (int i = 0; i < kSends; ++i) frames += "\x81\x03" "abc";
    EXPECT_EQ(frames, peer.Receive(frames.size(), 2000));
    EXPECT_EQ("m49", ws->Messages().back());

    peer.Close();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return ws->IsHandshakeDone() == 0; }));
}

}  // namespace
