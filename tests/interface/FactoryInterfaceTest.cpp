#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "interface/Tolvane.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

// The factory interface sends message 9913 to the window named by NDCWND.
std::mutex g_windowLock;
std::vector<intptr_t> g_windowMessages;
intptr_t RecordWindow(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(g_windowLock);
    if (window == 1234 && message == 9913 && wParam == 0) g_windowMessages.push_back(lParam);
    return 0;
}
std::vector<intptr_t> WindowMessages() {
    std::lock_guard<std::mutex> lock(g_windowLock);
    return g_windowMessages;
}

TEST(FactoryInterfaceTest, ControlReceiveAndHostWindowMessages) {
    ClientScene scene;
    LoopbackPeer peer;
    scene.Configure(peer.port(), "netheader=5");
    ExeFolder exe(scene.dir, false);
    SetHostWindowProc(&RecordWindow);
    ONetworkItf* net = CreateNetworkInstance();
    static unsigned char buf[102400];
    int len = 0;
    EXPECT_EQ(1, net->Recv(0, 0, 0, buf, &len, 10));  // idle client: nothing, at once
    EXPECT_EQ(1, net->GetStatus(0, 0));
    EXPECT_EQ(0, net->Control(nullptr, scene.logDir.c_str(), nullptr, 0));
    EXPECT_EQ(0, net->Control("host text", scene.dir.file("elsewhere").c_str(), nullptr, 0));  // only the text
    EXPECT_EQ(0, net->Control(nullptr, nullptr, "DEV=3;NDCWND = 1234;X=1", 0));
    EXPECT_TRUE(scene.WaitForTrace(":host text\r\n"));

    ASSERT_EQ(0, net->Start(0, 0));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return net->GetStatus(0, 0) == 0; }));
    EXPECT_EQ(1, net->Recv(0, 0, 0, buf, &len, 50));  // connected, nothing came: 1, not -1
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2ok", 6)));
    EXPECT_EQ(0, net->Recv(0, 0, 0, buf, &len, 5000));
    EXPECT_EQ("ok", std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)));
    peer.Close();
    EXPECT_TRUE(WaitUntil([&] { return WindowMessages().size() == 2; }));
    EXPECT_EQ((std::vector<intptr_t>{1, 2}), WindowMessages());
    net->Release();  // stops the session first
    EXPECT_TRUE(scene.WaitForTrace("Close connection.127.0.0.1:0\r\n"));
    SetHostWindowProc(nullptr);
}

TEST(FactoryInterfaceTest, ServerModeFromTheConfigurationFile) {
    ServerScene scene;
    scene.ConfigureServer("netheader=5", "[network]\ntcpipmode=1\n");
    ExeFolder exe(scene.dir, false);
    SetHostWindowProc(&RecordWindow);
    g_windowMessages.clear();
    ONetworkItf* net = CreateNetworkInstance();
    EXPECT_EQ(0, net->Control(nullptr, scene.logDir.c_str(), nullptr, 0));
    EXPECT_EQ(0, net->Control(nullptr, nullptr, "NDCWND=1234", 0));
    ASSERT_EQ(0, net->Start(0, 0));
    EXPECT_TRUE(scene.WaitForTrace("Start Server Success, ServerPort=" + std::to_string(scene.port)));

    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    ASSERT_TRUE(WaitUntil([&] { return net->GetStatus(0, 0) == 0; }));
    EXPECT_EQ((std::vector<intptr_t>{1}), WindowMessages());
    static unsigned char buf[102400];
    int len = 0;
    EXPECT_EQ(1, net->Recv(0, 0, 0, buf, &len, 50));
    ASSERT_TRUE(peer.Send(Frame(5, "ok")));
    EXPECT_EQ(0, net->Recv(0, 0, 0, buf, &len, 5000));
    EXPECT_EQ("ok", std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)));
    EXPECT_EQ(6, net->Send(0, 0, 0, "up", 2, 0));
    EXPECT_EQ(Frame(5, "up"), peer.Receive(6));
    net->Release();  // stops the server first
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_TRUE(scene.WaitForTrace("Close DisConnect." + std::to_string(scene.port) + "\r\n"));
    SetHostWindowProc(nullptr);
}

}  // namespace
