#include "client/MessageAssembler.h"

#include <gtest/gtest.h>

#include "ClientTestHelpers.h"
#include "client/Framing.h"

using namespace clienttest;

namespace {

class MessageAssemblerTest : public ::testing::Test {
protected:
    void Configure(int netHeader, int headerIncluded = 0, const std::string& marker = "", int timeOut = 600000) {
        settings.netHeader = netHeader;
        settings.headerIncluded = headerIncluded;
        settings.endMarker = marker;
        settings.recvDataDelayTimeOut = timeOut;
    }
    void Read(const std::string& bytes, int error = 0) {
        assembler->OnRead(U(bytes), static_cast<int>(bytes.size()), error, settings);
    }

    FakeTicks ticks{5000};
    TraceCapture trace;
    Received got;
    FramingSettings settings;
    std::unique_ptr<CMessageAssembler> assembler = std::make_unique<CMessageAssembler>(&trace.log, got.Delivery());
};

const std::string kHello5 = Bytes({0, 0, 0, 5}) + "hello";

TEST_F(MessageAssemblerTest, OneFrameInOneRead) {
    Configure(5);
    Read(kHello5, 7);
    EXPECT_EQ(got.notified, std::vector<std::string>{"hello"});
    EXPECT_EQ(got.errors, std::vector<int>{7});
    EXPECT_EQ(got.queued, std::vector<std::string>{"hello"});
    EXPECT_TRUE(got.queuedTailsZero);
    EXPECT_EQ(trace.Received("hello"), 1);
    EXPECT_EQ(assembler->IsPending(), 0);
}

TEST_F(MessageAssemblerTest, OneFrameInThreeReads) {
    Configure(5);
    Read(kHello5.substr(0, 2));
    EXPECT_EQ(assembler->IsPending(), 1);
    EXPECT_EQ(assembler->PendingStart(), 5000u);
    ticks.Set(5100);
    Read(kHello5.substr(2, 3));
    Read(kHello5.substr(5));
    EXPECT_EQ(got.queued, std::vector<std::string>{"hello"});
    EXPECT_EQ(trace.Plain("Network Status Is Not Good. StartTick(5000)"), 1);
    EXPECT_EQ(trace.Count("Network Status Is Not Good"), 1);
    EXPECT_EQ(trace.Plain("OnReceive(Len=3)."), 1);
    EXPECT_EQ(trace.Plain("OnReceive(Len=4)."), 1);
    EXPECT_EQ(trace.Count("OnReceive(Len="), 2);
    EXPECT_EQ(assembler->IsPending(), 0);
    EXPECT_EQ(assembler->PendingStart(), 0u);
}

TEST_F(MessageAssemblerTest, SeveralFramesInOneRead) {
    Configure(5);
    Read(kHello5 + Bytes({0, 0, 0, 3}) + "abc" + Bytes({0, 0, 0, 1}) + "z", 3);
    EXPECT_EQ(got.notified, (std::vector<std::string>{"hello", "abc", "z"}));
    EXPECT_EQ(got.errors, (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(got.queued, got.notified);
    EXPECT_EQ(trace.Received("hello"), 1);
    EXPECT_EQ(trace.Received("abc"), 1);
    EXPECT_EQ(trace.Received("z"), 1);
    EXPECT_TRUE(got.queuedTailsZero);
}

TEST_F(MessageAssemblerTest, EndByteModeGathersReadsUntilThe03) {
    Configure(6);
    Read("abc");
    EXPECT_TRUE(got.notified.empty());
    Read("def\x03");
    EXPECT_EQ(got.queued, std::vector<std::string>{"abcdef\x03"});
}

TEST_F(MessageAssemblerTest, EndMarkerMode) {
    Configure(0, 0, "##");
    Read("abc##X");
    Read("a");
    Read("abc##");
    EXPECT_EQ(assembler->IsPending(), 1);
    Read("Y");
    EXPECT_EQ(got.queued, (std::vector<std::string>{"abc##X", "a", "abc##Y"}));
}

TEST_F(MessageAssemblerTest, WithoutMarkerOrInModeThreeEachReadIsOneMessage) {
    const std::string framedLooking = kHello5 + kHello5;
    for (int mode : {0, 3, 9}) {
        Received local;
        CMessageAssembler a(nullptr, local.Delivery());
        Configure(mode);
        a.OnRead(U(framedLooking), static_cast<int>(framedLooking.size()), 0, settings);
        a.OnRead(U("ab"), 2, 0, settings);
        EXPECT_EQ(local.queued, (std::vector<std::string>{framedLooking, "ab"})) << mode;
    }
}

TEST_F(MessageAssemblerTest, PendingMessageIsDiscardedAfterTheTimeOut) {
    Configure(5, 0, "", 1000);
    Read(kHello5.substr(0, 6));
    ticks.Set(6000);  // exactly the time-out: still waits
    Read(kHello5.substr(6, 1));
    EXPECT_EQ(trace.Count("Network Status Bad"), 0);
    ticks.Set(6001);
    Read(Bytes({0, 0, 0, 2}) + "ok");
    EXPECT_EQ(trace.Plain("Network Status Bad. Discard Previous Message! OnReceiveDataTimeOut(1000)(dwElapse=1001). "
                          "dwEndTime=6001, dwStartTime=5000"),
              1);
    EXPECT_EQ(got.queued, std::vector<std::string>{"ok"});
    // The next incomplete message gets its own start tick.
    ticks.Set(9000);
    Read(kHello5.substr(0, 3));
    EXPECT_EQ(trace.Plain("Network Status Is Not Good. StartTick(9000)"), 1);
}

TEST_F(MessageAssemblerTest, EmptyBodyIsNotifiedButNotQueuedAndEndsTheRead) {
    Configure(5);
    Read(Bytes({0, 0, 0, 0}) + kHello5);
    EXPECT_EQ(got.notified, std::vector<std::string>{""});
    EXPECT_TRUE(got.queued.empty());
    EXPECT_EQ(trace.Count("\r\nRECEIVE:\r\n"), 1);
    Read(kHello5 + Bytes({0, 0, 0, 0}) + kHello5);
    EXPECT_EQ(got.notified, (std::vector<std::string>{"", "hello", ""}));
    EXPECT_EQ(got.queued, std::vector<std::string>{"hello"});
}

TEST_F(MessageAssemblerTest, ReceiveRecordShowsTheTextUpToTheFirstZero) {
    Configure(3);
    Read(std::string("ab\0cd", 5));
    EXPECT_EQ(got.queued, std::vector<std::string>{std::string("ab\0cd", 5)});
    EXPECT_EQ(trace.Received("ab"), 1);
}

TEST_F(MessageAssemblerTest, MessageCompletedInALaterReadIsFollowedByTheRestOfThatRead) {
    Configure(2);
    const std::string wire = "0010abcdefghij0003xyz0002ok";
    Read(wire.substr(0, 7));
    Read(wire.substr(7));
    EXPECT_EQ(got.queued, (std::vector<std::string>{"abcdefghij", "xyz", "ok"}));
    EXPECT_EQ(assembler->IsPending(), 0);
}

TEST_F(MessageAssemblerTest, IncompleteTailWaitsForTheNextRead) {
    Configure(5);
    Read(kHello5 + kHello5.substr(0, 6));
    EXPECT_EQ(got.queued, std::vector<std::string>{"hello"});
    EXPECT_EQ(assembler->IsPending(), 1);
    EXPECT_EQ(assembler->PendingStart(), 5000u);
    EXPECT_EQ(trace.Plain("Network Status Is Not Good. StartTick(5000)"), 1);
    Read(kHello5.substr(6) + Bytes({0, 0}));
    EXPECT_EQ(got.queued, (std::vector<std::string>{"hello", "hello"}));
    EXPECT_EQ(assembler->IsPending(), 1);  // the two header bytes wait
    EXPECT_EQ(Content(assembler->AssemblyBlock()), Bytes({0, 0}));
    Read(Bytes({0, 1}) + "!");
    EXPECT_EQ(got.queued.back(), "!");
}

TEST_F(MessageAssemblerTest, OverlongPendingMessageIsDiscardedAndTheReadStartsANewOne) {
    Configure(5);
    // A header that announces more than a block can hold.
    Read(Bytes({0, 3, 0, 0}) + std::string(60000, 'a'));
    Read(std::string(40000, 'b'));
    EXPECT_EQ(assembler->AssemblyBlock().length, 100004u);
    const std::string next = Bytes({0, 0, 0, 4}) + "next";
    Read(next + std::string(2400 - next.size(), 'c'));  // 100004 + 2400 > 102400
    EXPECT_EQ(trace.Plain("Message Too Long. Discard Previous Message! PendingLen(100004) + recvLen(2400) > 102400"),
              1);
    ASSERT_EQ(got.queued.size(), 1u);
    EXPECT_EQ(got.queued[0], "next");
    // The bytes behind "next" form a frame that cannot complete: they wait.
    EXPECT_EQ(assembler->IsPending(), 1);
}

TEST_F(MessageAssemblerTest, AFullBlockStillFitsExactly) {
    Configure(6);
    Read(std::string(60000, 'a'));
    Read(std::string(42400, 'b'));  // exactly 102400 bytes
    ASSERT_EQ(got.queued.size(), 1u);
    EXPECT_EQ(got.queued[0].size(), kDataBlockBytes);
    EXPECT_EQ(trace.Count("Message Too Long"), 0);
}

TEST_F(MessageAssemblerTest, DropPendingKeepsTheStartTick) {
    Configure(5);
    Read(kHello5.substr(0, 3));
    assembler->DropPending();
    EXPECT_EQ(assembler->IsPending(), 0);
    EXPECT_EQ(assembler->AssemblyBlock().length, 0u);
    EXPECT_EQ(assembler->PendingStart(), 5000u);
    ticks.Set(7000);
    Read(kHello5.substr(0, 3));
    EXPECT_EQ(trace.Count("Network Status Is Not Good"), 1);  // the old tick still counts
    Read(kHello5.substr(3));
    EXPECT_EQ(got.queued, std::vector<std::string>{"hello"});
}

TEST_F(MessageAssemblerTest, WithoutSplittingOnlyTheFirstMessageOfAReadIsTaken) {
    Received local;
    CMessageAssembler a(nullptr, local.Delivery(), false);
    Configure(5);
    const std::string wire = kHello5 + kHello5;
    a.OnRead(U(wire), static_cast<int>(wire.size()), 0, settings);
    EXPECT_EQ(local.queued, std::vector<std::string>{"hello"});
    EXPECT_EQ(a.IsPending(), 0);
}

}  // namespace
