#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace {

// The clock the records see: the first read gives g_first, later ones g_later.
std::atomic<int> g_calls{0};
platform::LocalTime g_first, g_later;
platform::LocalTime FixedTime() { return g_calls++ == 0 ? g_first : g_later; }

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_first = g_later = {2026, 12, 4, 9, 5, 3, 7};
        g_calls = 0;
        platform::SetLocalTimeSource(&FixedTime);
        log.SetLogPath((dir.path() + "/logs/").c_str());
    }
    void TearDown() override { platform::SetLocalTimeSource(nullptr); }
    std::string Day(const std::string& name) { return testsupport::ReadTextFile(dir.path() + "/logs/" + name); }

    testsupport::TempDir dir;
    CTraceLog log;
};

TEST_F(TraceLogTest, RecordLayoutsByteForByteInTheNamedDayFile) {
    const std::string text(5000, 'z');  // never cut
    log.WriteLog("%s", "SetExitFlag TRUE EXIT");
    log.WriteLogEx(kTraceTransmit, "[SLen:%d]", 3);
    log.WriteLogEx(kTraceReceive, "%s\r\n", "abc");
    log.WriteLogEx(3, "%s", "ws");
    log.WriteLog("%s", text.c_str());
    log.WriteLogRecord(kTraceReceive, std::string("ab\0cd", 5));  // a text ends at its zero byte
    EXPECT_EQ("2026-12-04 09:05:03.007 :SetExitFlag TRUE EXIT\r\n"
              "2026-12-04 09:05:03.007 \r\nTRANSMIT:[SLen:3]\r\n"
              "2026-12-04 09:05:03.007 \r\nRECEIVE:abc\r\n\r\n"
              "2026-12-04 09:05:03.007 :ws\r\n"
              "2026-12-04 09:05:03.007 :" + text + "\r\n"
              "2026-12-04 09:05:03.007 \r\nRECEIVE:ab\r\n",
              Day("Tolvane261204.log"));

    EXPECT_EQ("x/Tolvane090102.log", DayFileName("x/", "Tolvane", 2009, 1, 2));
    log.SetLogName("Term");
    log.SetLogPath((dir.path() + "/logs/a/b/").c_str());  // folders are made as needed
    log.WriteLog("%s", "x");
    EXPECT_EQ("2026-12-04 09:05:03.007 :x\r\n", Day("a/b/Term261204.log"));
    std::filesystem::remove_all(dir.path() + "/logs/a");  // a folder removed meanwhile is made again
    log.WriteLog("%s", "y");
    EXPECT_EQ("2026-12-04 09:05:03.007 :y\r\n", Day("a/b/Term261204.log"));
}

TEST_F(TraceLogTest, RecordStampedBeforeMidnightLandsInTheNewDay) {
    g_first = {2026, 12, 4, 23, 59, 59, 999};
    g_later = {2026, 12, 5, 0, 0, 0, 1};
    log.WriteLog("%s", "late");
    EXPECT_EQ("", Day("Tolvane261204.log"));
    EXPECT_EQ("2026-12-04 23:59:59.999 :late\r\n", Day("Tolvane261205.log"));
}

TEST_F(TraceLogTest, ScramblingMapsEveryByteAndEndsTheFileAtTheFirstOddOne) {
    log.SetLogScramble(1);
    log.WriteLog("%s", "A b\x7F" "tail");
    // '2' -> 'M', '-' -> 'R', ' ' -> '_', ':' -> 'E', 'A' -> '>', 'b' -> '\x1D'
    std::string file = Day("Tolvane261204.log");
    EXPECT_EQ("MOMIRNMROK", file.substr(0, 10));
    EXPECT_EQ(std::string("_E>_\x1D"), file.substr(file.size() - 5));
    std::string mapped;
    for (char c : std::string("\r\n \x01\x7F\xC3", 7)) mapped += ScrambleChar(c);  // the 7th is a zero byte
    EXPECT_EQ(std::string("ru_\x7E\0\0\0", 7), mapped);
}

TEST(TraceHelpersTest, MaskingKeepsFiveInFrontAndThreeBehind) {
    struct Case {
        int enable;
        std::string text, masked;
    } cases[] = {{1, "0123456789", "0123456789"}, {1, "0123456789A", "01234***89A"}, {0, "0123456789AB", "0123456789AB"}};
    for (Case& c : cases) {
        MaskLogData(c.enable, reinterpret_cast<unsigned char*>(&c.text[0]), static_cast<int>(c.text.size()));
        EXPECT_EQ(c.masked, c.text);
    }
    MaskLogData(1, nullptr, 20);
}

}  // namespace
