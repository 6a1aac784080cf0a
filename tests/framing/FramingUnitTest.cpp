// The client's framing pieces on their own: the message assembler's start
// ticks and time-out, the read and transmit records. Which messages which
// reads give, in every mode and session kind, is the framing fuzz target's
// job (tests/fuzz/fuzz_framing.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "framing/FramedSender.h"
#include "framing/MessageAssembler.h"
#include "framing/ReceiveTrace.h"
#include "log/TraceLog.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::unique_ptr<_DATA_BLOCK> MakeBlock(const std::string& content) {
    auto block = std::make_unique<_DATA_BLOCK>();  // zeroed
    std::copy(content.begin(), content.end(), block->data);
    block->length = static_cast<uint32_t>(content.size());
    return block;
}

std::string Content(const _DATA_BLOCK& block) {
    return std::string(reinterpret_cast<const char*>(block.data), block.length);
}

// True when every byte behind the block's length is zero.
bool TailIsZero(const _DATA_BLOCK& block) {
    return block.length <= kDataBlockBytes &&
           std::all_of(block.data + block.length, block.data + kDataBlockBytes, [](unsigned char c) { return c == 0; });
}

// A trace log in a fresh folder; the local date is pinned so that the day
// file cannot change during a test.
class TraceCapture {
public:
    TraceCapture() {
        platform::SetLocalTimeSource([] { return platform::LocalTime{2026, 12, 4, 9, 5, 3, 7}; });
        log.SetLogPath((dir.path() + "/").c_str());
    }
    ~TraceCapture() { platform::SetLocalTimeSource(nullptr); }

    // Occurrences of `needle` in the log file.
    size_t Count(const std::string& needle) const { return CountOf(ReadTextFile(log.CurrentLogFile()), needle); }

    TempDir dir;
    CTraceLog log;
};

// Records what an assembler queues.
struct Received {
    std::vector<std::string> queued;
    bool queuedTailsZero = true;

    MessageDelivery Delivery() {
        return MessageDelivery{nullptr, [this](const _DATA_BLOCK& block) {
                                   queued.push_back(Content(block));
                                   queuedTailsZero = queuedTailsZero && TailIsZero(block);
                               }};
    }
};

TEST(ReceiveTrace, ReadLinesAndTheOverlongEndMarkerLine) {
    TraceCapture trace;
    WriteReadTrace(trace.log, 3, *MakeBlock(std::string("0005hel\0lo", 10)), 10);
    WriteReadFailedTrace(trace.log, 0, -1, 10054);
    const std::string longest(kMaxEndMarkerLength, '#');
    EXPECT_EQ(ValidateEndMarker(longest, &trace.log), longest);
    EXPECT_EQ(ValidateEndMarker(longest + "#", &trace.log), "");
    EXPECT_EQ(ValidateEndMarker(longest + "#", nullptr), "");
    EXPECT_EQ(trace.Count(":[OnReceive(3). recvLen(10)]:[3030]05hel\r\n"), 1u);
    EXPECT_EQ(trace.Count(":OnReceive(0). recvLen(-1), lastError(10054).\r\n"), 1u);
    EXPECT_EQ(trace.Count(":MsgEndData Too Long(128 > 127). End Marker Ignored.\r\n"), 1u);
}

// The writer fails 7-byte frames; the last error is always 10054.
TEST(FramedSender, TransmitRecordsAndBlocks) {
    TraceCapture trace;
    auto sender = std::make_unique<CFramedSender>(&trace.log);
    FramingSettings settings;
    auto send = [&](int mode, const std::string& data, int maskLog = 1, const std::string& logText = "") {
        settings.netHeader = mode;
        const auto write = [](const unsigned char*, int n) { return n == 7 ? -1 : n; };
        return sender->SendFramed(settings, maskLog, data.data(), static_cast<int>(data.size()), logText.data(),
                                  static_cast<int>(logText.size()), write, [] { return 10054; });
    };
    EXPECT_EQ(send(5, std::string(kDataBlockBytes - 4, 'L')), static_cast<int>(kDataBlockBytes));
    EXPECT_EQ(send(1, std::string(70000, 'L')), 70002);
    EXPECT_EQ(send(4, "abcde", 2, "shown"), -1);
    EXPECT_EQ(send(6, "ab"), 2);
    EXPECT_EQ(trace.Count("[SLen:70000|RLen:70002,10054][7011]"), 1u);  // the low 16 bits of the length
    EXPECT_EQ(trace.Count("[SLen:5|RLen:-1,10054][0005]shown\r\n"), 1u);
    EXPECT_EQ(trace.Count("[SLen:2|RLen:2,10054][6162]ab\r\n"), 1u);  // no header, nothing of before
    EXPECT_TRUE(TailIsZero(sender->SendBlock()));
    EXPECT_TRUE(TailIsZero(sender->SendLogBlock()));
}

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

}  // namespace
