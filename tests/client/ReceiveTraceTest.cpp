#include "client/ReceiveTrace.h"

#include <gtest/gtest.h>

#include "ClientTestHelpers.h"
#include "client/FramingSettings.h"

using namespace clienttest;

TEST(ReceiveTrace, ReadLinesShowTwoHexBytesAndTheRestAsText) {
    TraceCapture trace;
    WriteReadTrace(trace.log, 0, *MakeBlock(Bytes({0, 0, 0, 5}) + "hello"), 9);
    WriteReadTrace(trace.log, 3, *MakeBlock(std::string("0005hel\0lo", 10)), 10);
    WriteReadTrace(trace.log, 0, *MakeBlock("A"), 1);
    WriteReadFailedTrace(trace.log, 0, -1, 10054);
    EXPECT_EQ(trace.Plain("[OnReceive(0). recvLen(9)]:[0000]"), 1);  // the third byte is zero
    EXPECT_EQ(trace.Plain("[OnReceive(3). recvLen(10)]:[3030]05hel"), 1);
    EXPECT_EQ(trace.Plain("[OnReceive(0). recvLen(1)]:[4100]"), 1);
    EXPECT_EQ(trace.Plain("OnReceive(0). recvLen(-1), lastError(10054)."), 1);
}

TEST(ReceiveTrace, ReadLineOfAFullBlockStopsAtItsEnd) {
    TraceCapture trace;
    auto block = MakeBlock(std::string(kDataBlockBytes, 'z'));
    WriteReadTrace(trace.log, 0, *block, static_cast<int>(kDataBlockBytes));
    EXPECT_EQ(trace.Plain("[OnReceive(0). recvLen(102400)]:[7A7A]" + std::string(kDataBlockBytes - 2, 'z')), 1);
}

TEST(EndMarker, MarkersUpTo127CharactersAreKept) {
    TraceCapture trace;
    const std::string ok(kMaxEndMarkerLength, '#');
    EXPECT_EQ(ValidateEndMarker(ok, &trace.log), ok);
    EXPECT_EQ(ValidateEndMarker("", &trace.log), "");
    EXPECT_EQ(ValidateEndMarker(ok + "#", &trace.log), "");
    EXPECT_EQ(ValidateEndMarker(ok + "#", nullptr), "");
    EXPECT_EQ(trace.Plain("MsgEndData Too Long(128 > 127). End Marker Ignored."), 1);
    EXPECT_EQ(trace.Count("MsgEndData"), 1);
}
