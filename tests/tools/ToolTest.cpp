#include <gtest/gtest.h>

#include "log/TraceLog.h"
#include "platform/Time.h"
#include "support/ChildProcess.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

TEST(ToolTest, BadArgumentsAndUnusableConfiguration) {
    const std::pair<int, std::vector<std::string>> runs[] = {
        {2, {}}, {2, {"serve"}}, {2, {"client", "--session", "x"}}, {2, {"client", "--config"}}, {2, {"demo", "extra"}},
        {2, {"client", "--echo"}},
        {1, {"client", "--config", "/nonexistent/NetWork.ini"}}, {2, {"trace"}}, {2, {"trace", "a", "b"}},
        {1, {"trace", "/nonexistent/Tolvane261204.log"}},
    };
    for (const auto& run : runs) {
        ChildProcess tool(TOLVANE_TOOL, run.second);
        EXPECT_TRUE(tool.WaitForExit(10000));
        EXPECT_EQ(run.first, tool.exitCode()) << ::testing::PrintToString(run.second);
    }
}

TEST(ToolTest, ClientSendsLinesAndPrintsMessages) {
    ClientScene scene;
    LoopbackPeer peer;
    scene.Configure(peer.port(), "netheader=5");
    ChildProcess tool(TOLVANE_TOOL, {"client", "--config", scene.ini, "--hex"});
    ASSERT_TRUE(peer.Accept(10000));
    ASSERT_TRUE(tool.WaitForOutput("connected", 10000)) << tool.output();
    tool.Write("hello\n");
    EXPECT_EQ(std::string("\0\0\0\5hello", 9), peer.Receive(9));
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi", 6)));
    EXPECT_TRUE(tool.WaitForOutput("received 2 bytes: 68 69", 10000)) << tool.output();
    tool.CloseInput();  // end of input stops the client
    EXPECT_TRUE(tool.WaitForExit(10000));
    EXPECT_EQ(0, tool.exitCode());
}

TEST(ToolTest, EchoServerAnswersEveryMessage) {
    ServerScene scene;
    scene.ConfigureServer("netheader=5");
    ChildProcess tool(TOLVANE_TOOL, {"server", "--config", scene.ini, "--echo"});
    ASSERT_TRUE(tool.WaitForOutput("listening", 10000)) << tool.output();
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    ASSERT_TRUE(peer.Send(Frame(5, "ping")));
    EXPECT_EQ(Frame(5, "ping"), peer.Receive(8));
    tool.Write("typed\n");
    EXPECT_EQ(Frame(5, "typed"), peer.Receive(9));
    EXPECT_TRUE(tool.WaitForOutput("received 4 bytes: ping", 10000)) << tool.output();
    tool.CloseInput();
    EXPECT_TRUE(tool.WaitForExit(10000));
    EXPECT_EQ(0, tool.exitCode());
}

// The trace reader prints what was written, scrambled or not: records
// scrambled from the second on and plain again from the fourth are found by
// their time stamps; --descramble reads a wholly scrambled file.
TEST(ToolTest, TracePrintsScrambledRecordsAsWritten) {
    platform::SetLocalTimeSource([] { return platform::LocalTime{2026, 12, 4, 9, 5, 3, 7}; });
    TempDir dir;
    CTraceLog plain, mixed, scrambled;
    plain.SetLogPath((dir.path() + "/plain/").c_str());
    mixed.SetLogPath((dir.path() + "/mixed/").c_str());
    scrambled.SetLogPath((dir.path() + "/scrambled/").c_str());
    scrambled.SetLogScramble(1);
    for (int i = 0; i < 4; ++i) {
        mixed.SetLogScramble(i == 1 || i == 2);
        for (CTraceLog* log : {&plain, &mixed, &scrambled})
            log->WriteLogEx(i % 3, "record %d: Connect OK.127.0.0.1:%d\r\n", i, 4000 + i);
    }
    const std::string written = ReadTextFile(plain.CurrentLogFile());
    ASSERT_NE(written, ReadTextFile(mixed.CurrentLogFile()));
    for (const auto& args : {std::vector<std::string>{"trace", mixed.CurrentLogFile()},
                             std::vector<std::string>{"trace", "--descramble", scrambled.CurrentLogFile()}}) {
        ChildProcess tool(TOLVANE_TOOL, args);
        EXPECT_TRUE(tool.WaitForOutput("4003\r\n\r\n", 10000));
        EXPECT_TRUE(tool.WaitForExit(10000));
        EXPECT_EQ(0, tool.exitCode());
        EXPECT_EQ(written, tool.output()) << args[1];
    }
    platform::SetLocalTimeSource(nullptr);
}

}  // namespace
