#include "client/Framing.h"

#include <gtest/gtest.h>

#include "ClientTestHelpers.h"

using namespace clienttest;

namespace {

std::string Framed(int mode, int included, const std::string& body) {
    auto block = MakeBlock(body);
    unsigned len = BuildFrame(mode, included, block.get());
    EXPECT_EQ(len, block->length);
    return Content(*block);
}

struct Parsed {
    int result = -7, pending = -7, bodyLen = -7, headerLen = -7;
    std::string content;
    bool tailZero = false;
};

Parsed Parse(int mode, int included, const std::string& data, const std::string& marker = "", int pendingIn = -7) {
    auto block = MakeBlock(data);
    Parsed p;
    p.pending = pendingIn;
    p.result = ParseFrame(mode, included, block.get(), &p.pending, &p.bodyLen, &p.headerLen, marker);
    p.content = Content(*block);
    p.tailZero = TailIsZero(*block);
    return p;
}

}  // namespace

TEST(BuildFrame, PutsEachModesHeaderInFrontOfTheBody) {
    EXPECT_EQ(Framed(1, 0, "abc"), Bytes({0x03, 0x00}) + "abc");
    EXPECT_EQ(Framed(1, 1, "abc"), Bytes({0x05, 0x00}) + "abc");
    EXPECT_EQ(Framed(4, 0, "abc"), Bytes({0x00, 0x03}) + "abc");
    EXPECT_EQ(Framed(4, 1, "abc"), Bytes({0x00, 0x05}) + "abc");
    EXPECT_EQ(Framed(5, 0, "abc"), Bytes({0, 0, 0, 0x03}) + "abc");
    EXPECT_EQ(Framed(5, 1, "abc"), Bytes({0, 0, 0, 0x07}) + "abc");
    EXPECT_EQ(Framed(2, 0, "abc"), "0003abc");
    EXPECT_EQ(Framed(2, 1, "abc"), "0007abc");
    EXPECT_EQ(Framed(2, 1, "hello"), "0009hello");
}

TEST(BuildFrame, HeaderlessModesLeaveTheBlockAlone) {
    for (int mode : {0, 3, 6, 7, -1}) EXPECT_EQ(Framed(mode, 1, "abc"), "abc") << mode;
}

TEST(BuildFrame, LengthsBeyondTheFieldAreCut) {
    // 16-bit modes keep the low 16 bits; the decimal mode keeps four characters.
    std::string body(70000, 'x');
    EXPECT_EQ(Framed(1, 0, body).substr(0, 2), Bytes({0x70, 0x11}));  // 70000 = 0x11170
    EXPECT_EQ(Framed(4, 1, body).substr(0, 2), Bytes({0x11, 0x72}));
    EXPECT_EQ(Framed(2, 0, std::string(12345, 'x')).substr(0, 4), "1234");
    EXPECT_EQ(Framed(5, 0, body).substr(0, 4), Bytes({0x00, 0x01, 0x11, 0x70}));
}

TEST(ParseFrame, StripsTheHeaderOfEachLengthMode) {
    struct Case { int mode, included; std::string wire; int headerLen; };
    const Case cases[] = {
        {1, 0, Bytes({0x05, 0x00}) + "hello", 2}, {4, 0, Bytes({0x00, 0x05}) + "hello", 2},
        {1, 1, Bytes({0x07, 0x00}) + "hello", 2}, {4, 1, Bytes({0x00, 0x07}) + "hello", 2},
        {2, 0, "0005hello", 4},                    {2, 1, "0009hello", 4},
        {5, 0, Bytes({0, 0, 0, 5}) + "hello", 4},  {5, 1, Bytes({0, 0, 0, 9}) + "hello", 4},
    };
    for (const Case& c : cases) {
        Parsed p = Parse(c.mode, c.included, c.wire);
        EXPECT_EQ(p.pending, 0) << c.mode << "/" << c.included;
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.content, "hello");
        EXPECT_EQ(p.bodyLen, 5);
        EXPECT_EQ(p.headerLen, c.headerLen);
    }
}

TEST(ParseFrame, BytesAfterTheBodyAreDroppedAndZeroed) {
    Parsed p = Parse(1, 0, Bytes({0x03, 0x00}) + "abcXYZ");
    EXPECT_EQ(p.content, "abc");
    EXPECT_EQ(p.headerLen + p.bodyLen, 5);
    EXPECT_TRUE(p.tailZero);
}

TEST(ParseFrame, IncompleteLengthFramesStayPendingAndUnchanged) {
    Parsed shortHeader = Parse(5, 0, Bytes({0, 0, 0}));
    EXPECT_EQ(shortHeader.pending, 1);
    EXPECT_EQ(shortHeader.headerLen, 0);
    EXPECT_EQ(shortHeader.bodyLen, 3);

    Parsed shortBody = Parse(2, 0, "0005hell");
    EXPECT_EQ(shortBody.pending, 1);
    EXPECT_EQ(shortBody.headerLen, 4);
    EXPECT_EQ(shortBody.bodyLen, 5);
    EXPECT_EQ(shortBody.content, "0005hell");
}

TEST(ParseFrame, NegativeLengthsNeverComplete) {
    const std::string plenty(40000, 'x');
    EXPECT_EQ(Parse(1, 0, Bytes({0x00, 0x80}) + plenty).pending, 1);  // 32768 reads as -32768
    EXPECT_EQ(Parse(4, 0, Bytes({0x80, 0x00}) + plenty).pending, 1);
    EXPECT_EQ(Parse(1, 1, Bytes({0x01, 0x00}) + plenty).pending, 1);  // 1 - 2 = -1
    EXPECT_EQ(Parse(2, 0, "-001" + plenty).pending, 1);
    EXPECT_EQ(Parse(2, 1, "0003" + plenty).pending, 1);                // 3 - 4 = -1
    EXPECT_EQ(Parse(5, 1, Bytes({0, 0, 0, 2}) + plenty).pending, 1);   // wraps to 0xFFFFFFFE
    EXPECT_EQ(Parse(1, 0, Bytes({0xFF, 0x7F}) + std::string(32767, 'x')).pending, 0);
}

TEST(ParseFrame, DecimalHeaderReadsLikeAtoi) {
    EXPECT_EQ(Parse(2, 0, "+003abc").content, "abc");
    EXPECT_EQ(Parse(2, 0, "03x9abc").bodyLen, 3);  // the x ends the number
    Parsed none = Parse(2, 0, "abcdXYZ");          // no digits: an empty body
    EXPECT_EQ(none.pending, 0);
    EXPECT_EQ(none.bodyLen, 0);
    EXPECT_EQ(none.content, "");
}

TEST(ParseFrame, EndByteModeNeedsA03AnywhereOrLongData) {
    EXPECT_EQ(Parse(6, 0, "abc").pending, 1);
    Parsed found = Parse(6, 0, "ab\x03" "cd");
    EXPECT_EQ(found.pending, 0);
    EXPECT_EQ(found.content, "ab\x03" "cd");
    EXPECT_EQ(found.bodyLen, 5);
    EXPECT_EQ(found.headerLen, 0);
    EXPECT_EQ(Parse(6, 0, std::string(kEndByteMaxPending, 'x')).pending, 1);
    EXPECT_EQ(Parse(6, 0, std::string(kEndByteMaxPending + 1, 'x')).pending, 0);
}

TEST(ParseFrame, EndMarkerStandsJustBeforeTheLastByte) {
    EXPECT_EQ(Parse(0, 0, "abc##X", "##").pending, 0);
    EXPECT_EQ(Parse(0, 0, "abc##X", "##").content, "abc##X");
    EXPECT_EQ(Parse(0, 0, "abc##", "##").pending, 1);
    EXPECT_EQ(Parse(0, 0, "abcX##", "##", 0).pending, 1);
    EXPECT_EQ(Parse(0, 0, "##", "##", 0).pending, 1);  // exactly the marker
    // Shorter than the marker: the caller's flag stands.
    EXPECT_EQ(Parse(0, 0, "a", "##", 0).pending, 0);
    EXPECT_EQ(Parse(0, 0, "a", "##", 1).pending, 1);
}

TEST(ParseFrame, ModesWithoutCriterionLeaveThePendingFlag) {
    for (int mode : {0, 3, 7}) {
        for (int in : {0, 1}) {
            Parsed p = Parse(mode, 0, Bytes({0, 0, 0, 9}) + "abc", "", in);
            EXPECT_EQ(p.pending, in) << mode;
            EXPECT_EQ(p.bodyLen, 7);
            EXPECT_EQ(p.headerLen, 0);
        }
    }
}

TEST(ParseFrame, EmptyBlockWritesNothing) {
    Parsed p = Parse(5, 0, "", "", 1);
    EXPECT_EQ(p.pending, 1);
    EXPECT_EQ(p.bodyLen, -7);
    EXPECT_EQ(p.headerLen, -7);
}

