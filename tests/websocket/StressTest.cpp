#include <random>
#include <thread>

#include "WebSocketTestKit.h"
#include "support/TestSupport.h"

namespace {

using namespace wstest;

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
    ASSERT_TRUE(ws->Create(0, nullptr, 1, FD_READ | FD_CLOSE));
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
