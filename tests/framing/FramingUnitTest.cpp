// The client's framing pieces on their own: frame parsing, the message
// assembler, the read and transmit records.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>

#include "framing/FramedSender.h"
#include "framing/Framing.h"
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

// Records what an assembler hands on.
struct Received {
    std::vector<std::string> notified, queued;
    std::vector<int> errors;
    bool queuedTailsZero = true;

    MessageDelivery Delivery() {
        return MessageDelivery{
            [this](const unsigned char* data, int length, int error) {
                notified.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
                errors.push_back(error);
            },
            [this](const _DATA_BLOCK& block) {
                queued.push_back(Content(block));
                queuedTailsZero = queuedTailsZero && TailIsZero(block);
            }};
    }
};

using State = std::tuple<int, int, int>;  // pending, headerLen, bodyLen as ParseFrame leaves them
struct Parsed {
    State state;
    std::string content;
};

// ParseFrame on a block holding `data`; -7 marks what it did not write.
Parsed Parse(int mode, int included, const std::string& data, const std::string& marker = "", int pendingIn = -7) {
    auto block = MakeBlock(data);
    int pending = pendingIn, headerLen = -7, bodyLen = -7;
    const int result = ParseFrame(mode, included, block.get(), &pending, &bodyLen, &headerLen, marker);
    EXPECT_EQ(result, pending);
    EXPECT_TRUE(TailIsZero(*block));
    return {State(pending, headerLen, bodyLen), Content(*block)};
}

// 16-bit modes read a signed number and correct it in 16 bits, mode 5 an
// unsigned 32-bit one, mode 2 like atoi. A negative length never completes.
TEST(ParseFrame, LengthHeaderModes) {
    Parsed done = Parse(4, 1, Bytes({0x00, 0x05}) + "abcXYZ");
    EXPECT_EQ(done.state, State(0, 2, 3));
    EXPECT_EQ(done.content, "abc");  // the rest is cleared
    EXPECT_EQ(Parse(5, 0, Bytes({0, 0, 0})).state, State(1, 0, 3));
    EXPECT_EQ(Parse(2, 0, "0005hell").state, State(1, 4, 5));

    const std::string plenty(40000, 'x');
    EXPECT_EQ(Parse(4, 0, Bytes({0x80, 0x00}) + plenty).state, State(1, 2, -32768));
    EXPECT_EQ(Parse(1, 1, Bytes({0x01, 0x00}) + plenty).state, State(1, 2, -1));
    EXPECT_EQ(Parse(4, 1, Bytes({0x00, 0x01}) + plenty).state, State(1, 2, -1));
    EXPECT_EQ(Parse(4, 1, Bytes({0x80, 0x01}) + plenty).state, State(0, 2, 32767));  // -32767 - 2 wraps
    EXPECT_EQ(Parse(1, 1, Bytes({0x01, 0x80}) + plenty).content, std::string(32767, 'x'));
    EXPECT_EQ(Parse(5, 1, Bytes({0, 0, 0, 2}) + plenty).state, State(1, 4, -2));  // 0xFFFFFFFE
    EXPECT_EQ(Parse(2, 1, "0003" + plenty).state, State(1, 4, -1));
    EXPECT_EQ(Parse(2, 0, "-001" + plenty).state, State(1, 4, -1));
    EXPECT_EQ(Parse(2, 0, "+003abc").content, "abc");
    EXPECT_EQ(Parse(2, 0, "03x9abcd").content, "abc");  // the x ends the number
    EXPECT_EQ(Parse(2, 0, "abcdXYZ").state, State(0, 4, 0));
}

TEST(ParseFrame, HeaderlessModes) {
    EXPECT_EQ(Parse(6, 0, "ab\x03" "cd").state, State(0, 0, 5));
    EXPECT_EQ(Parse(6, 0, std::string(kEndByteMaxPending, 'x')).state, State(1, 0, kEndByteMaxPending));
    EXPECT_EQ(Parse(6, 0, std::string(kEndByteMaxPending + 1, 'x')).state, State(0, 0, kEndByteMaxPending + 1));

    EXPECT_EQ(Parse(0, 0, "abc##X", "##", 1).state, State(0, 0, 6));  // the marker, then one byte
    EXPECT_EQ(Parse(0, 0, "abcX##", "##", 0).state, State(1, 0, 6));
    EXPECT_EQ(Parse(0, 0, "##", "##", 0).state, State(1, 0, 2));
    for (int in : {0, 1}) {
        EXPECT_EQ(Parse(0, 0, "a", "##", in).state, State(in, 0, 1));  // shorter than the marker
        for (int mode : {0, 3, 7}) EXPECT_EQ(Parse(mode, 0, Bytes({0, 0, 0, 9}), "", in).state, State(in, 0, 4));
    }
    EXPECT_EQ(Parse(5, 0, "", "", 1).state, State(1, -7, -7));
}

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
                stream += Frame(mode, sent.back(), included);
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
