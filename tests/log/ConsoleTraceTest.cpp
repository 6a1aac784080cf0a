#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "log/TraceLog.h"
#include "support/TestSupport.h"

namespace {

// Captures what is written to descriptor 1 while it lives.
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        if (pipe(m_pipe) != 0) return;
        fcntl(m_pipe[0], F_SETFL, O_NONBLOCK);
        m_saved = dup(1);
        dup2(m_pipe[1], 1);
    }
    ~StdoutCapture() {
        dup2(m_saved, 1);
        close(m_saved);
        close(m_pipe[0]);
        close(m_pipe[1]);
    }
    std::string Take() {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = read(m_pipe[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }

private:
    int m_pipe[2] = {-1, -1};
    int m_saved = -1;
};

class TitledLog : public CTraceLog {
protected:
    std::string ConsoleTitle() const override { return "Client(10.1.2.3:7001)"; }
};

TEST(ConsoleTraceTest, OffWritesNothingButTheFileStillGetsTheRecord) {
    testsupport::TempDir dir;
    TitledLog log;
    log.SetLogPath((dir.path() + "/").c_str());
    StdoutCapture capture;
    log.WriteLog("%s", "quiet");
    EXPECT_EQ("", capture.Take());
    EXPECT_FALSE(log.m_console.m_bConsoleOpen);
    EXPECT_NE(std::string::npos, testsupport::ReadTextFile(log.CurrentLogFile()).find(":quiet\r\n"));
}

TEST(ConsoleTraceTest, ValueOneOpensTheConsoleOnceOtherValuesOnlyWrite) {
    testsupport::TempDir dir;
    TitledLog titled, plain;
    titled.SetLogPath((dir.path() + "/").c_str());
    plain.SetLogPath((dir.path() + "/").c_str());
    titled.m_console.m_nTraceConsole = 1;
    plain.m_console.m_nTraceConsole = 2;
    StdoutCapture capture;  // a pipe is no terminal: no title sequence is written
    titled.WriteLog("%s", "one");
    plain.WriteLog("%s", "two");
    std::string out = capture.Take();
    EXPECT_NE(std::string::npos, out.find(":one\r\n"));
    EXPECT_NE(std::string::npos, out.find(":two\r\n"));
    EXPECT_EQ(std::string::npos, out.find('\x1b'));
    EXPECT_TRUE(titled.m_console.m_bConsoleOpen);
    EXPECT_FALSE(plain.m_console.m_bConsoleOpen);
}

}  // namespace
