#include <gtest/gtest.h>

#include <filesystem>

#include "log/TraceLog.h"
#include "platform/Time.h"
#include "devkit/LoopbackPort.h"
#include "support/ChildProcess.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

struct Run {
    int exitCode;
    std::vector<std::string> args;
    std::string says;  // part of the output
};

void ExpectRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        ChildProcess tool(TOLVANE_TOOL, run.args);
        EXPECT_TRUE(tool.WaitForExit(10000));
        tool.WaitForOutput(run.says, 1000);
        EXPECT_EQ(run.exitCode, tool.exitCode()) << ::testing::PrintToString(run.args);
        EXPECT_NE(std::string::npos, tool.output().find(run.says)) << tool.output();
    }
}

// Help and version exit 0; a wrong command line names what is wrong (2).
TEST(ToolTest, HelpVersionAndBadArguments) {
    ExpectRuns({
        {0, {"--help"}, "EXIT STATUS"}, {0, {"help"}, "SYNOPSIS"}, {0, {"server", "--echo", "--help"}, "--descramble"},
        {0, {"--version"}, "tolvane 0."},
        {2, {}, "usage: tolvane client"}, {2, {"frobnicate"}, "unknown command 'frobnicate'"},
        {2, {"client", "--frob"}, "unknown option '--frob'"}, {2, {"client", "--echo"}, "unknown option '--echo'"},
        {2, {"client", "--session", "x"}, "not 'x'"}, {2, {"client", "--config"}, "needs a value"},
        {2, {"demo", "extra"}, "'extra'"}, {2, {"trace"}, "exactly one"}, {2, {"trace", "a", "b"}, "exactly one"},
    });
}

// Every configuration or file that cannot serve is named, with exit 1.
TEST(ToolTest, UnusableConfigurationAndTraceInputsExitOne) {
    TempDir dir;
    auto server = [&](const std::string& name, const std::string& port) {
        WriteTextFile(dir.file(name), "[TcpServerSession-0]\nport=" + port + "\n");
        return std::vector<std::string>{"server", "--config", dir.file(name), "--log", dir.file("Log")};
    };
    LoopbackPeer taken;
    ExpectRuns({
        {1, {"client", "--config", dir.file("none.ini")}, "none.ini is missing"},
        {1, {"server", "--config", dir.file("none.ini")}, "none.ini is missing"},
        {1, server("word.ini", "abc"), "\"port\" of [TcpServerSession-0] in " + dir.file("word.ini") + " is not a number: \"abc\""},
        {1, server("wide.ini", "65536"), "is 65536, outside 1..65535"},
        {1, server("zero.ini", "0"), "is 0, outside 1..65535"},
        {1, server("taken.ini", std::to_string(taken.port())),
         "cannot listen on port " + std::to_string(taken.port()) + ": address already in use (10048)"},
        {1, {"trace", dir.path()}, "is a folder"},
        {1, {"trace", "/nonexistent/Tolvane261204.log"}, "cannot read"},
    });
}

// Without --config and --log the command uses ./NetWork.ini and ./Log/; a
// client that cannot connect says why, and a line it cannot send makes it
// exit 1.
TEST(ToolTest, ClientInCurrentFolderSaysWhyItCannotSend) {
    TempDir dir;
    WriteTextFile(dir.file("NetWork.ini"), SessionSection(0, "127.0.0.1", devkit::FreeLoopbackPort()));
    ChildProcess tool("/bin/sh", {"-c", "cd '" + dir.path() + "' && echo x | exec '" TOLVANE_TOOL "' client"});
    EXPECT_TRUE(tool.WaitForExit(20000));
    tool.WaitForOutput("not connected: x", 1000);
    EXPECT_EQ(1, tool.exitCode());
    EXPECT_NE(std::string::npos, tool.output().find(": connection refused (10061), trying again")) << tool.output();
    EXPECT_EQ(1u, CountOf(tool.output(), "cannot connect"));
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::is_empty(dir.file("Log"), ec)) << "no trace in ./Log/";
}

// A key the section sets itself is left as it is.
TEST(ToolTest, ClientSendsLinesAndPrintsMessages) {
    ClientScene scene;
    LoopbackPeer peer;
    scene.Configure(peer.port(), "netheader=5\ntraceescapes=0");
    ChildProcess tool(TOLVANE_TOOL, {"client", "--config", scene.ini, "--log", scene.logDir, "--hex"});
    ASSERT_TRUE(peer.Accept(10000));
    ASSERT_TRUE(tool.WaitForOutput("connected", 10000)) << tool.output();
    EXPECT_NE(std::string::npos,
              tool.output().find("note: CleanFraming=1, CloseOnPartialSend=1 added to [TcpClientSession-0]"))
        << tool.output();
    tool.Write("hello\n");
    EXPECT_EQ(std::string("\0\0\0\5hello", 9), peer.Receive(9));
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi", 6)));
    EXPECT_TRUE(tool.WaitForOutput("received 2 bytes: 68 69", 10000)) << tool.output();
    tool.CloseInput();  // end of input stops the client
    EXPECT_TRUE(tool.WaitForExit(10000));
    EXPECT_EQ(0, tool.exitCode());
}

// The echo server keeps serving after its input ends, and says at the start
// that "SplitReads" 0 delivers only the first message of a read.
TEST(ToolTest, EchoServerAnswersEveryMessage) {
    ServerScene scene;
    scene.ConfigureServer("netheader=5");
    ChildProcess tool(TOLVANE_TOOL, {"server", "--config", scene.ini, "--log", scene.logDir, "--echo"});
    ASSERT_TRUE(tool.WaitForOutput("add SplitReads=1", 10000)) << tool.output();
    EXPECT_NE(std::string::npos, tool.output().find("listening on port " + std::to_string(scene.port)));
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    ASSERT_TRUE(tool.WaitForOutput("connected", 10000)) << tool.output();
    tool.Write("typed\n");
    EXPECT_EQ(Frame(5, "typed"), peer.Receive(9));
    tool.CloseInput();
    ASSERT_TRUE(tool.WaitForOutput("still echoing", 10000)) << tool.output();
    ASSERT_TRUE(peer.Send(Frame(5, "ping")));
    EXPECT_EQ(Frame(5, "ping"), peer.Receive(8));
    EXPECT_TRUE(tool.WaitForOutput("received 4 bytes: ping", 10000)) << tool.output();
    EXPECT_FALSE(tool.WaitForExit(0));
}

// The server turns on its keys (the section names none of them): a peer's
// message that holds a line break and a time stamp stays on its record's
// line, and the trace reader prints the escapes as written.
TEST(ToolTest, ServerTurnsOnItsKeysAndTraceShowsEscapesAsWritten) {
    ServerScene scene;
    scene.ConfigureServer("netheader=5");
    ChildProcess tool(TOLVANE_TOOL, {"server", "--config", scene.ini, "--log", scene.logDir});
    ASSERT_TRUE(tool.WaitForOutput("listening on port", 10000)) << tool.output();
    const std::string note = "note: CleanFraming=1, CloseOnPartialSend=1, TraceEscapes=1 added to [TcpServerSession-0]";
    EXPECT_NE(std::string::npos, tool.output().find(note)) << tool.output();
    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    const std::string forged = "\r\n2026-12-06 07:00:00.000 :forged";
    ASSERT_TRUE(peer.Send(Frame(5, "pay" + forged)));
    ASSERT_TRUE(tool.WaitForOutput(":forged", 10000)) << tool.output();
    tool.CloseInput();
    EXPECT_TRUE(tool.WaitForExit(10000));
    std::string file;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scene.logDir, ec))
        if (entry.path().extension() == ".log") file = entry.path().string();
    const std::string written = ReadTextFile(file);
    EXPECT_NE(std::string::npos, written.find("RECEIVE:pay\\x0D\\x0A2026-12-06 07:00:00.000 :forged\r\n")) << written;
    EXPECT_EQ(0u, CountOf(written, forged));
    ChildProcess reader(TOLVANE_TOOL, {"trace", file});
    EXPECT_TRUE(reader.WaitForOutput(written.substr(written.size() / 2), 10000));
    EXPECT_TRUE(reader.WaitForExit(10000));
    EXPECT_EQ(written, reader.output());
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
