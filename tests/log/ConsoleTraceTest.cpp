// The console mirror, captured on a pseudo terminal so that the console
// title is written too.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace {

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
