#include "client/MessageAssembler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "ClientTestHelpers.h"
#include "client/Framing.h"

using namespace clienttest;
using testsupport::FakeTick;

namespace {

using Strings = std::vector<std::string>;
const std::string kHello5 = Bytes({0, 0, 0, 5}) + "hello";

class MessageAssemblerTest : public ::testing::Test {
protected:
    void Read(const std::string& bytes, int error = 0) {
        assembler->OnRead(U(bytes), static_cast<int>(bytes.size()), error, settings);
    }
    void TearDown() override { EXPECT_TRUE(got.queuedTailsZero); }

    FakeTick tick{5000};
    TraceCapture trace;
    Received got;
    FramingSettings settings{5, 0, "", 600000};
    std::unique_ptr<CMessageAssembler> assembler = std::make_unique<CMessageAssembler>(&trace.log, got.Delivery());
};

TEST_F(MessageAssemblerTest, MessageCompletedInALaterReadIsFollowedByTheRestOfThatRead) {
    settings.netHeader = 2;
    const std::string wire = "0010abcdefghij0003xyz0002ok";
    Read(wire.substr(0, 7));
    Read(wire.substr(7), 3);
    EXPECT_EQ(got.queued, (Strings{"abcdefghij", "xyz", "ok"}));
    EXPECT_EQ(got.errors, (std::vector<int>{3, 3, 3}));
}

TEST_F(MessageAssemblerTest, IncompleteTailWaitsWithItsOwnStartTick) {
    Read(kHello5 + kHello5.substr(0, 6));
    EXPECT_EQ(assembler->PendingStart(), 5000u);
    FakeTick::now = 5100;
    Read(kHello5.substr(6) + Bytes({0, 0}));
    EXPECT_EQ(got.queued, (Strings{"hello", "hello"}));
    EXPECT_EQ(Content(assembler->AssemblyBlock()), Bytes({0, 0}));
    EXPECT_EQ(assembler->PendingStart(), 5100u);
    Read(Bytes({0, 1}) + "!");
    EXPECT_EQ(got.queued.back(), "!");
    EXPECT_EQ(assembler->PendingStart(), 0u);
}

TEST_F(MessageAssemblerTest, PendingMessageIsDiscardedOnlyAfterTheTimeOut) {
    settings.recvDataDelayTimeOut = 1000;
    Read(kHello5.substr(0, 6));
    FakeTick::now = 6000;  // elapsed equals the time-out: it still waits
    Read(kHello5.substr(6, 1));
    FakeTick::now = 6001;
    Read(Bytes({0, 0, 0, 2}) + "o");  // discards, then starts a message of its own
    EXPECT_EQ(trace.Count("(dwElapse=1001). dwEndTime=6001, dwStartTime=5000\r\n"), 1u);
    EXPECT_EQ(assembler->PendingStart(), 6001u);
    Read("k");
    EXPECT_EQ(got.queued, Strings{"ok"});
}

TEST_F(MessageAssemblerTest, EmptyBodyIsNotifiedNotQueuedAndEndsItsRead) {
    Read(Bytes({0, 0, 0, 0}) + kHello5);
    Read(kHello5 + Bytes({0, 0, 0, 0}) + kHello5);
    EXPECT_EQ(got.notified, (Strings{"", "hello", ""}));
    EXPECT_EQ(got.queued, Strings{"hello"});
}

TEST_F(MessageAssemblerTest, PendingMessageOutgrowingTheBlockIsDiscardedAndTheReadStartsAnew) {
    Read(Bytes({0, 3, 0, 0}) + std::string(60000, 'a'));  // announces more than a block holds
    Read(std::string(40000, 'b'));
    const std::string next = Bytes({0, 0, 0, 4}) + "next";
    Read(next + std::string(2400 - next.size(), 'c'));  // 100004 + 2400 > 102400
    const char* line = ":Message Too Long. Discard Previous Message! PendingLen(100004) + recvLen(2400) > 102400\r\n";
    EXPECT_EQ(trace.Count(line), 1u);
    EXPECT_EQ(got.queued, Strings{"next"});
    EXPECT_EQ(assembler->IsPending(), 1);  // the c's read as a header that cannot complete
}

TEST_F(MessageAssemblerTest, MessageFillingTheBlockExactlyIsKept) {
    settings.netHeader = 6;
    Read(std::string(60000, 'a'));
    Read(std::string(42400, 'b'));
    EXPECT_EQ(got.queued, Strings{std::string(60000, 'a') + std::string(42400, 'b')});
}

TEST_F(MessageAssemblerTest, DropPendingForgetsTheDataButNotTheStartTick) {
    Read(kHello5.substr(0, 3));
    assembler->DropPending();
    EXPECT_EQ(assembler->IsPending(), 0);
    FakeTick::now = 7000;
    Read(kHello5.substr(0, 3));
    EXPECT_EQ(assembler->PendingStart(), 5000u);
    Read(kHello5.substr(3));
    EXPECT_EQ(got.queued, Strings{"hello"});
}

TEST_F(MessageAssemblerTest, WithoutSplittingOnlyTheFirstMessageOfAReadIsTaken) {
    assembler = std::make_unique<CMessageAssembler>(&trace.log, got.Delivery(), false);
    Read(kHello5 + kHello5);
    Read(kHello5 + kHello5.substr(0, 3));
    EXPECT_EQ(got.queued, (Strings{"hello", "hello"}));
    EXPECT_EQ(assembler->IsPending(), 0);
}

// Random messages framed, concatenated and cut at random points (now and then
// a read as long as a socket read can be): each comes out once, in order, intact.
TEST(MessageAssemblerStream, RandomCutsDeliverEveryMessageOnceInOrder) {
    std::mt19937 rng(20261204);
    for (int mode : {1, 2, 4, 5}) {
        for (int included : {0, 1}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " included " + std::to_string(included));
            Strings sent;
            std::string stream;
            for (int i = 0; i < 800; ++i) {
                sent.emplace_back(1 + rng() % 3000, '\0');
                for (char& c : sent.back()) c = static_cast<char>(rng());
                auto block = MakeBlock(sent.back());
                BuildFrame(mode, included, block.get());
                stream += Content(*block);
            }
            Received got;
            auto assembler = std::make_unique<CMessageAssembler>(nullptr, got.Delivery());
            const FramingSettings settings{mode, included, "", 600000};
            for (size_t pos = 0, n; pos < stream.size(); pos += n) {
                n = std::min<size_t>(stream.size() - pos, rng() % 4 ? 1 + rng() % 8000 : 8000 + rng() % 94399);
                assembler->OnRead(U(stream) + pos, static_cast<int>(n), 0, settings);
            }
            EXPECT_TRUE(got.queued == sent && got.notified == sent);  // too long to print
            EXPECT_TRUE(got.queuedTailsZero);
            EXPECT_EQ(assembler->IsPending(), 0);
        }
    }
}

}  // namespace
