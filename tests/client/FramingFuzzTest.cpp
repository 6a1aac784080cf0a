#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "ClientTestHelpers.h"
#include "client/Framing.h"
#include "client/MessageAssembler.h"

using namespace clienttest;

namespace {

// Random non-empty messages, framed and concatenated, cut at random points
// and fed read by read: every message must come out once, in order, intact.
void CheckStreamRoundTrip(int mode, int included, std::mt19937& rng) {
    const int kMessages = 800;
    std::uniform_int_distribution<int> lengthOf(1, 3000);
    std::uniform_int_distribution<int> byteOf(0, 255);
    std::vector<std::string> sent;
    std::string stream;
    auto block = std::make_unique<_DATA_BLOCK>();
    block->Clear();
    for (int i = 0; i < kMessages; ++i) {
        std::string body(static_cast<size_t>(lengthOf(rng)), '\0');
        for (char& c : body) c = static_cast<char>(byteOf(rng));
        sent.push_back(body);
        block->Clear();
        std::copy(body.begin(), body.end(), block->data);
        block->length = static_cast<uint32_t>(body.size());
        BuildFrame(mode, included, block.get());
        stream += Content(*block);
    }

    Received got;
    CMessageAssembler assembler(nullptr, got.Delivery());
    FramingSettings settings;
    settings.netHeader = mode;
    settings.headerIncluded = included;
    // Mostly short reads, now and then one as long as a socket read can be,
    // which carries the rest of a pending message and many more behind it.
    std::uniform_int_distribution<int> shortCut(1, 8000), longCut(8000, 102398);
    for (size_t pos = 0; pos < stream.size();) {
        size_t cut = static_cast<size_t>(rng() % 4 == 0 ? longCut(rng) : shortCut(rng));
        size_t n = std::min(stream.size() - pos, cut);
        assembler.OnRead(U(stream) + pos, static_cast<int>(n), 0, settings);
        pos += n;
    }
    EXPECT_EQ(got.queued.size(), sent.size()) << "mode " << mode << "/" << included;
    EXPECT_TRUE(got.queued == sent) << "mode " << mode << "/" << included;
    EXPECT_TRUE(got.notified == sent);
    EXPECT_TRUE(got.queuedTailsZero);
    EXPECT_EQ(assembler.IsPending(), 0);
}

TEST(FramingStream, RandomCutsDeliverEveryMessageOnceInOrder) {
    std::mt19937 rng(20261204);
    for (int mode : {1, 2, 4, 5}) {
        for (int included : {0, 1}) CheckStreamRoundTrip(mode, included, rng);
    }
}

}  // namespace
