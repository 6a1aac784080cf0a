#include "client/FramedSender.h"

#include <gtest/gtest.h>

#include "ClientTestHelpers.h"

using namespace clienttest;

namespace {

class FramedSenderTest : public ::testing::Test {
protected:
    int Send(const std::string& data, int maskLog = 0, const char* logText = nullptr, int logLen = 0) {
        return sender->SendFramed(settings, maskLog, data.data(), static_cast<int>(data.size()), logText, logLen,
                                  Writer(), [this] { return lastError; });
    }
    CFramedSender::WriteFn Writer() {
        return [this](const unsigned char* framed, int len) {
            writes.emplace_back(reinterpret_cast<const char*>(framed), static_cast<size_t>(len));
            return writeResult < 0 ? writeResult : len;
        };
    }

    TraceCapture trace;
    FramingSettings settings;
    std::vector<std::string> writes;
    int writeResult = 0;
    int lastError = 0;
    std::unique_ptr<CFramedSender> sender = std::make_unique<CFramedSender>(&trace.log);
};

TEST_F(FramedSenderTest, WritesTheFramedMessageAndTracesIt) {
    settings.netHeader = 5;
    settings.headerIncluded = 1;
    EXPECT_EQ(Send("abc"), 7);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Bytes({0, 0, 0, 7}) + "abc");
    EXPECT_EQ(trace.Transmitted("[SLen:3|RLen:7,0][0000]abc"), 1);
}

TEST_F(FramedSenderTest, DecimalHeaderKeepsFourCharacters) {
    settings.netHeader = 2;
    const std::string body(12345, 'x');
    EXPECT_EQ(Send(body), 12349);
    EXPECT_EQ(writes[0].substr(0, 4), "1234");
    EXPECT_EQ(writes[0].substr(4), body);
    EXPECT_EQ(trace.Count("[SLen:12345|RLen:12349,0][3132]xxx"), 1);
}

TEST_F(FramedSenderTest, FailedWriteIsReturnedAndTracedWithTheLastError) {
    settings.netHeader = 1;
    writeResult = -1;
    lastError = 10054;
    EXPECT_EQ(Send("abc"), -1);
    EXPECT_EQ(trace.Transmitted("[SLen:3|RLen:-1,10054][0300]abc"), 1);
}

TEST_F(FramedSenderTest, NullDataSendsAndTracesNothing) {
    EXPECT_EQ(sender->SendFramed(settings, 0, nullptr, 3, nullptr, 0, Writer(), [] { return 0; }), -1);
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(trace.Text(), "");
}

TEST_F(FramedSenderTest, MessagesThatDoNotFitFramedAreRefused) {
    settings.netHeader = 5;
    EXPECT_EQ(Send(std::string(kDataBlockBytes - 3, 'x')), -1);
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(trace.Plain("SendFramed Refused. Message Length(102397), Framed Length(102401) Outside 0..102400. "
                          "Nothing Sent."),
              1);
    EXPECT_EQ(Send(std::string(kDataBlockBytes - 4, 'x')), static_cast<int>(kDataBlockBytes));
    settings.netHeader = 0;
    EXPECT_EQ(Send(std::string(kDataBlockBytes, 'x')), static_cast<int>(kDataBlockBytes));
    EXPECT_EQ(sender->SendFramed(settings, 0, "x", -1, nullptr, 0, Writer(), [] { return 0; }), -1);
    EXPECT_EQ(writes.size(), 2u);
}

TEST_F(FramedSenderTest, MaskingHidesTheMiddleAndIgnoresTheLogText) {
    settings.netHeader = 0;
    Send("0123456789", 1);
    Send("0123456789A", 1);
    Send("0123456789ABCDEFGHIJ", 1, "secret", 6);
    EXPECT_EQ(trace.Transmitted("[SLen:10|RLen:10,0][3031]0123456789"), 1);
    EXPECT_EQ(trace.Transmitted("[SLen:11|RLen:11,0][3031]01234***89A"), 1);
    EXPECT_EQ(trace.Transmitted("[SLen:20|RLen:20,0][3031]01234************HIJ"), 1);
    EXPECT_EQ(trace.Count("secret"), 0);
    EXPECT_EQ(writes[2], "0123456789ABCDEFGHIJ");  // only the trace is masked
    Send(std::string("ab\0cdefghijkl", 13), 1);
    EXPECT_EQ(trace.Transmitted("[SLen:13|RLen:13,0][6162]ab"), 1);
}

TEST_F(FramedSenderTest, LogTextReplacesTheMessageWhenNotMasking) {
    settings.netHeader = 4;
    Send("card 1234", 0, "card ****", 9);
    Send("abc", 0, "unused", 0);
    Send("abc", 2, "shown", 5);
    EXPECT_EQ(trace.Transmitted("[SLen:9|RLen:11,0][0009]card ****"), 1);
    EXPECT_EQ(trace.Transmitted("[SLen:3|RLen:5,0][0003]abc"), 1);
    EXPECT_EQ(trace.Transmitted("[SLen:5|RLen:5,0][0003]shown"), 1);
}

TEST_F(FramedSenderTest, AShortMessageAfterALongOneCarriesNothingOfIt) {
    settings.netHeader = 0;
    Send(std::string(5000, 'L'));
    Send("ab");
    EXPECT_EQ(writes[1], "ab");
    EXPECT_EQ(trace.Transmitted("[SLen:2|RLen:2,0][6162]ab"), 1);
    EXPECT_TRUE(TailIsZero(sender->SendBlock()));
    EXPECT_TRUE(TailIsZero(sender->SendLogBlock()));
}

}  // namespace
