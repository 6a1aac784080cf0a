#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace {

// The clock the records see, driven by the tests.
std::atomic<int> g_calls{0};
platform::LocalTime g_first, g_later;
platform::LocalTime FixedTime() { return g_calls++ == 0 ? g_first : g_later; }

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_first = {2026, 12, 4, 9, 5, 3, 7};
        g_later = g_first;
        g_calls = 0;
        platform::SetLocalTimeSource(&FixedTime);
        log.SetLogPath((dir.path() + "/logs/").c_str());
    }
    void TearDown() override { platform::SetLocalTimeSource(nullptr); }
    std::string Day(const char* name) { return testsupport::ReadTextFile(dir.path() + "/logs/" + name); }

    testsupport::TempDir dir;
    CTraceLog log;
};

TEST_F(TraceLogTest, RecordLayoutsByteForByte) {
    log.WriteLog("%s", "SetExitFlag TRUE EXIT");
    g_calls = 0;
    log.WriteLogEx(kTraceTransmit, "[SLen:%d]", 3);
    g_calls = 0;
    log.WriteLogEx(kTraceReceive, "%s\r\n", "abc");
    g_calls = 0;
    log.WriteLogEx(3, "%s", "ws");
    EXPECT_EQ("2026-12-04 09:05:03.007 :SetExitFlag TRUE EXIT\r\n"
              "2026-12-04 09:05:03.007 \r\nTRANSMIT:[SLen:3]\r\n"
              "2026-12-04 09:05:03.007 \r\nRECEIVE:abc\r\n\r\n"
              "2026-12-04 09:05:03.007 :ws\r\n",
              Day("Tolvane261204.log"));
}

TEST_F(TraceLogTest, DayFileNameAndFolderCreation) {
    EXPECT_EQ("x/Tolvane090102.log", DayFileName("x/", "Tolvane", 2009, 1, 2));
    log.SetLogName("Term");
    log.SetLogPath((dir.path() + "/a/b/").c_str());
    log.WriteLog("%s", "x");
    EXPECT_NE("", testsupport::ReadTextFile(dir.path() + "/a/b/Term261204.log"));
}

TEST_F(TraceLogTest, RecordStampedBeforeMidnightLandsInTheNewDay) {
    g_first = {2026, 12, 4, 23, 59, 59, 999};
    g_later = {2026, 12, 5, 0, 0, 0, 1};
    log.WriteLog("%s", "late");
    EXPECT_EQ("", Day("Tolvane261204.log"));
    EXPECT_EQ("2026-12-04 23:59:59.999 :late\r\n", Day("Tolvane261205.log"));
}

TEST_F(TraceLogTest, LongTextIsNeverCut) {
    std::string text(5000, 'z');
    log.WriteLog("%s", text.c_str());
    EXPECT_NE(std::string::npos, Day("Tolvane261204.log").find(text + "\r\n"));
}

TEST_F(TraceLogTest, ScrambledFileHasNoLineBreaksAndEndsAtTheFirstOddByte) {
    log.SetLogScramble(1);
    log.WriteLog("%s", "A b\x7F" "tail");
    // '2' -> 'M', '-' -> 'R', ' ' -> '_', 'A' -> '>', 'b' -> '\x1D', CR -> 'r', LF -> 'u'
    std::string file = Day("Tolvane261204.log");
    EXPECT_EQ(std::string::npos, file.find('\r'));
    EXPECT_EQ(std::string::npos, file.find('\n'));
    EXPECT_EQ("MOMIRNMROK", file.substr(0, 10));
    EXPECT_EQ(std::string("_E>_\x1D"), file.substr(file.size() - 5));
}

TEST(TraceHelpersTest, MaskingKeepsFiveInFrontAndThreeBehind) {
    unsigned char ten[] = "0123456789";
    MaskLogData(1, ten, 10);
    EXPECT_STREQ("0123456789", reinterpret_cast<char*>(ten));
    unsigned char eleven[] = "0123456789A";
    MaskLogData(1, eleven, 11);
    EXPECT_STREQ("01234***89A", reinterpret_cast<char*>(eleven));
    unsigned char off[] = "0123456789AB";
    MaskLogData(0, off, 12);
    EXPECT_STREQ("0123456789AB", reinterpret_cast<char*>(off));
    MaskLogData(1, nullptr, 20);
}

TEST(TraceHelpersTest, ScrambleCharMapsPrintableAndZeroesTheRest) {
    EXPECT_EQ('r', ScrambleChar('\r'));
    EXPECT_EQ('u', ScrambleChar('\n'));
    EXPECT_EQ('_', ScrambleChar(' '));
    EXPECT_EQ('\x7E', ScrambleChar('\x01'));
    EXPECT_EQ('\0', ScrambleChar('\x7F'));
    EXPECT_EQ('\0', ScrambleChar('\xC3'));
    EXPECT_EQ('\0', ScrambleChar('\0'));
}

TEST(TraceHelpersTest, AppendToFileResults) {
    testsupport::TempDir dir;
    EXPECT_EQ(0, AppendToFile("a\r\n", dir.file("f.log"), "a+b", 0));
    EXPECT_EQ(0, AppendToFile("b", dir.file("f.log"), "a+b", 0));
    EXPECT_EQ("a\r\nb", testsupport::ReadTextFile(dir.file("f.log")));
    // A folder cannot be opened as a file.
    EXPECT_EQ(-1, AppendToFile("x", dir.path(), "a+b", 0));
}

}  // namespace
