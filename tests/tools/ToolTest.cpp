#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/ClientHarness.h"
#include "support/LoopbackPeer.h"

using namespace testsupport;

namespace {

int ExitCodeOf(const std::vector<std::string>& args) {
    ChildProcess tool(TOLVANE_TOOL, args);
    return tool.WaitForExit(10000) ? tool.exitCode() : -1;
}

TEST(ToolTest, BadArgumentsAndUnusableConfiguration) {
    EXPECT_EQ(2, ExitCodeOf({}));
    EXPECT_EQ(2, ExitCodeOf({"serve"}));
    EXPECT_EQ(2, ExitCodeOf({"client", "--session", "x"}));
    EXPECT_EQ(2, ExitCodeOf({"client", "--config"}));
    EXPECT_EQ(2, ExitCodeOf({"demo", "extra"}));
    EXPECT_EQ(1, ExitCodeOf({"client", "--config", "/nonexistent/NetWork.ini"}));
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

}  // namespace
