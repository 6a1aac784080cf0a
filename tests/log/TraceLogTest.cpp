#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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

// What `writes` put on descriptor 1, which is meanwhile a raw pseudo terminal
// (so that console titles are written too).
std::string OnTerminal(const std::function<void()>& writes) {
    fflush(stdout);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const int terminal = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                             ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
    termios mode{};
    if (terminal < 0 || tcgetattr(terminal, &mode) != 0) return "<no terminal>";
    cfmakeraw(&mode);
    tcsetattr(terminal, TCSANOW, &mode);
    const int saved = dup(1);
    dup2(terminal, 1);
    writes();
    const std::string end = "<end of capture>";
    const bool marked = write(1, end.data(), end.size()) == static_cast<ssize_t>(end.size());
    dup2(saved, 1);
    std::string out;
    char buf[4096];
    pollfd p{master, POLLIN, 0};
    for (ssize_t n; marked && out.find(end) == std::string::npos && poll(&p, 1, 5000) > 0 &&
                    (n = read(master, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    for (int fd : {saved, terminal, master}) close(fd);
    return out.substr(0, out.find(end));
}

class TitledLog : public CTraceLog {
protected:
    std::string ConsoleTitle() const override { return "Client(10.1.2.3:7001)"; }
};

// 0 writes nothing, 1 opens and titles the console once, other values only write.
TEST(ConsoleTraceTest, MirrorOfEachTraceConsoleValue) {
    platform::SetLocalTimeSource([] { return platform::LocalTime{2026, 12, 4, 9, 5, 3, 7}; });
    testsupport::TempDir dir;
    TitledLog off, titled, plain;
    for (CTraceLog* log : {&off, &titled, &plain}) log->SetLogPath((dir.path() + "/").c_str());
    titled.m_console.m_nTraceConsole = 1;
    plain.m_console.m_nTraceConsole = 2;
    EXPECT_EQ("\x1b]0;Client(10.1.2.3:7001)\x07"
              "2026-12-04 09:05:03.007 :one\r\n2026-12-04 09:05:03.007 :two\r\n2026-12-04 09:05:03.007 :three\r\n",
              OnTerminal([&] {
                  off.WriteLog("%s", "quiet");
                  titled.WriteLog("%s", "one");
                  titled.WriteLog("%s", "two");
                  plain.WriteLog("%s", "three");
              }));
    EXPECT_NE(std::string::npos, testsupport::ReadTextFile(off.CurrentLogFile()).find(":quiet\r\n"));
    platform::SetLocalTimeSource(nullptr);
}

}  // namespace
