#include "client/Framing.h"

#include <gtest/gtest.h>

#include <tuple>

#include "ClientTestHelpers.h"
#include "client/FramedSender.h"
#include "client/ReceiveTrace.h"

using namespace clienttest;

namespace {

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

}  // namespace
