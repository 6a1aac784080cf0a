// "SplitReads" for the length-header and end-byte framings: random framed
// messages cut at random points, through a real socket.
#include <gtest/gtest.h>

#include <random>

#include "support/Harness.h"

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;

// Random bodies a mode can frame (no 0x03 byte, which ends a mode 6 message).
Strings RandomBodies(std::mt19937& random, int mode, int count) {
    const size_t longest = mode == 2 ? 9999 : mode == 6 ? 20000 : 30000;
    Strings bodies;
    for (int i = 0; i < count; ++i) {
        std::string body(1 + (random() % 4 ? random() % 200 : random() % longest), '\0');
        for (char& c : body) c = static_cast<char>(4 + random() % 252);
        if (mode == 6) body += '\x03';
        bodies.push_back(body);
    }
    return bodies;
}

std::string Framed(int mode, const std::string& body) { return mode == 6 ? body : Frame(mode, body); }

TEST(ServerSplitReads, RandomStreamsCutAnywhereArriveWholeAndInOrder) {
    std::mt19937 random(2611);
    for (int mode : {1, 2, 4, 5, 6}) {
        SCOPED_TRACE("netheader=" + std::to_string(mode));
        ServedPeer s("netheader=" + std::to_string(mode) + "\nSplitReads=1");
        ASSERT_TRUE(s.ok);
        const Strings bodies = RandomBodies(random, mode, 1000);
        std::string stream;
        for (const std::string& body : bodies) stream += Framed(mode, body);
        for (size_t at = 0; at < stream.size();) {
            const size_t piece = 1 + random() % (random() % 2 ? 16 : 40000);
            ASSERT_TRUE(s.peer.Send(stream.substr(at, piece)));
            at += piece;
        }
        ASSERT_TRUE(WaitUntil([&] { return s.host.Received().size() >= bodies.size(); }, std::chrono::seconds(20)));
        EXPECT_TRUE(bodies == s.host.Received());
    }
}

// With the key at 0 only the first message of a read counts, as designed.
TEST(ServerSplitReads, WithoutTheKeyOnlyTheFirstMessageOfAReadCounts) {
    std::mt19937 random(2612);
    for (int mode : {1, 2, 4, 5, 6}) {
        SCOPED_TRACE("netheader=" + std::to_string(mode));
        ServedPeer s("netheader=" + std::to_string(mode));
        ASSERT_TRUE(s.ok);
        const Strings bodies = RandomBodies(random, mode, 60);
        Strings firsts;
        for (size_t i = 0; i < bodies.size();) {
            // One send of a few whole messages is one read on the loopback.
            const size_t first = i, group = 1 + random() % 4;
            std::string read;
            for (; i < bodies.size() && i < first + group; ++i) read += Framed(mode, bodies[i]);
            if (read.size() > 16000) read = Framed(mode, bodies[first]);  // keep reads within one segment
            firsts.push_back(mode == 6 ? read : bodies[first]);           // mode 6 takes the whole read
            ASSERT_TRUE(s.peer.Send(read));
            ASSERT_TRUE(WaitUntil([&] { return s.host.Received().size() == firsts.size(); }));
        }
        EXPECT_TRUE(firsts == s.host.Received());
    }
}

}  // namespace
