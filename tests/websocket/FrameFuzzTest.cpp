#include <random>

#include "WebSocketTestKit.h"

namespace {

using namespace wstest;

// Random and mutated reads: every length form (with declared lengths up to
// 2^64 - 1), masks, all opcodes, reserved bits, truncations, fragments that
// overflow a block, and broken opening requests while no handshake is done.
// The sanitizers catch any read or write past a buffer; the blocks must keep
// their lengths and zero tails.
class FrameFuzz {
public:
    std::string NextRead(bool handshakeDone) {
        std::string read = handshakeDone || Chance(2) ? RandomFrame() : std::string(kSampleRequest);
        if (Chance(5)) read.resize(Below(read.size() + 1));
        for (int flips = Chance(6) ? 1 + static_cast<int>(Below(3)) : 0; flips > 0 && !read.empty(); --flips)
            read[Below(read.size())] = static_cast<char>(m_random());
        if (Chance(20)) read += RandomFrame();
        if (read.size() > kDataBlockBytes) read.resize(kDataBlockBytes);
        return read;
    }
    bool Chance(unsigned oneIn) { return m_random() % oneIn == 0; }

private:
    size_t Below(size_t n) { return static_cast<size_t>(m_random() % n); }

    std::string RandomFrame() {
        int byte0 = static_cast<int>(m_random() & 0xFF);
        if (!Chance(10)) byte0 &= 0x8F;                       // mostly valid reserved bits
        if (!Chance(4)) byte0 = (byte0 & 0xF0) | (m_random() & 1);  // mostly text and continuation
        size_t length = Chance(3) ? Below(70000) : Below(200);
        std::string payload = m_pool.substr(Below(m_pool.size() - length), length);
        std::string mask = Chance(2) ? m_pool.substr(Below(1000), 4) : "";
        const int forms[] = {0, 126, 127};
        int form = forms[Below(3)];
        if (form == 126 && length >= 65536) form = 127;
        std::string frame = Frame(byte0, payload, mask, form);
        if (Chance(8)) {  // a declared length that has nothing to do with the payload
            frame[1] = static_cast<char>((frame[1] & 0x80) | (Chance(2) ? 126 : 127));
            const size_t width = (frame[1] & 0x7F) == 126 ? 2 : 8;
            for (size_t i = 0; i < width && 2 + i < frame.size(); ++i)
                frame[2 + i] = Chance(4) ? '\xFF' : static_cast<char>(m_random());
        }
        return frame;
    }

    std::mt19937_64 m_random{20240501};
    std::string m_pool = [this] {
        std::string pool(80000, '\0');
        for (char& c : pool) c = static_cast<char>(m_random());
        return pool;
    }();
};

TEST_F(WebSocketTest, RandomAndMutatedReadsNeverBreakTheBlocks) {
    FrameFuzz fuzz;
    // Every path must be reached for the run to mean something.
    const std::vector<std::string> paths = {"bCombineData",           "Message Dropped", "Resver Must Be 0",
                                            "ParseWSFrameInfo Error", "Handshake Eroor", "[SLen:"};
    std::vector<size_t> seen(paths.size());
    size_t messages = 0;
    for (int i = 1; i <= 5000; ++i) {
        const std::string read = fuzz.NextRead(ws->IsHandshakeDone());
        Feed(read);
        if (i % 1000 == 0) ws->ResetWebSocket();
        if (i % 700 == 0) {
            ws->SetUTF8TextData(!fuzz.Chance(2));
            ws->SetUTF8TextCodePage(fuzz.Chance(2) ? 936 : 0);
        }
        if (i % 250 == 0) {
            ASSERT_TRUE(ws->BlocksAreSound()) << "after read " << i;
            for (const std::string& m : ws->Messages()) ASSERT_LE(m.size(), kDataBlockBytes);
            for (size_t p = 0; p < paths.size(); ++p) seen[p] += ws->Count(paths[p]);
            messages += ws->Messages().size();
            ws->Forget();
        }
    }
    EXPECT_TRUE(ws->MessagesCameInTheirBlock());
    EXPECT_GT(messages, 100u);
    for (size_t p = 0; p < paths.size(); ++p) EXPECT_GT(seen[p], 0u) << paths[p];
}

}  // namespace
