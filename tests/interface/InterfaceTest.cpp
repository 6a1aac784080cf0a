#include <gtest/gtest.h>

#include "interface/Tolvane.h"
#include "log/TraceLog.h"
#include "platform/Paths.h"
#include "support/Harness.h"
#include "support/HostWindow.h"

using namespace testsupport;

namespace {

// A constructed, never started service answers as an idle client.
TEST(ServiceObjectTest, IdleAnswersLogSettersAndCommands) {
    TempDir dir;
    CITolvane service;
    service.SetLogPath((dir.path() + "/trace").c_str());  // a separator is added
    service.SetLogName("Term");
    service.SetConfigDir(nullptr);
    service.SetConfigPathName(nullptr);
    service.SetLogPath(nullptr);
    service.SetLogName(nullptr);
    service.Log(nullptr);
    service.Log("hello from the host");
    EXPECT_EQ(-1, service.SendData(nullptr, 5, 0, nullptr, 0));  // traces nothing
    CTraceLog probe;  // names today's file the way the service does
    probe.SetLogPath((dir.path() + "/trace/").c_str());
    probe.SetLogName("Term");
    const std::string file = probe.CurrentLogFile();
    EXPECT_EQ(":hello from the host\r\n", ReadTextFile(file).substr(24));  // one record after its time stamp

    EXPECT_EQ(1, service.GetNetworkStatus());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("<none>", NextMessage(service, 5000));
    unsigned char byte = 0;
    int len = 0;
    EXPECT_EQ(-1, service.RecvData(nullptr, &len, 5000));
    EXPECT_EQ(-1, service.RecvData(&byte, nullptr, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(-1, service.SendData("abc", 3, 0, nullptr, 0));
    EXPECT_EQ(0, service.SetRecvDataType(1));
    for (unsigned long cmd : {1ul, 3ul, 4ul, 7ul, 99ul}) EXPECT_EQ(0, service.ExecuteCMD(cmd, nullptr, 0, nullptr, nullptr, 0));
    EXPECT_EQ(0, service.StopTolvane());

    // Command 2 switches later calls to the server side without starting it.
    EXPECT_EQ(0, service.ExecuteCMD(2, nullptr, 1, nullptr, nullptr, 0));
    EXPECT_EQ(1, service.GetNetworkStatus());
    EXPECT_EQ(-1, service.SendData("x", 1, 0, nullptr, 0));
    EXPECT_NE(std::string::npos, ReadTextFile(file).find("\r\nTRANSMIT:client socket is close.\r\n"));

    // Command 1 scrambles what both sides write from now on.
    EXPECT_EQ(0, service.ExecuteCMD(1, nullptr, 1, nullptr, nullptr, 0));
    size_t before = ReadTextFile(file).size();
    service.Log("abc");
    std::string added = ReadTextFile(file).substr(before);
    EXPECT_EQ(std::string::npos, added.find("abc"));
    EXPECT_NE(std::string::npos, added.find("\x1E\x1D\x1C"));  // 127 - 'a', 'b', 'c'
}

TEST(ServiceObjectTest, ConfigurationPathDefaultsAndSetters) {
    LoopbackPeer peer;
    ClientScene scene;
    scene.Configure(peer.port());
    const std::string dir = scene.dir.path(), beside = dir + "/host", elsewhere = dir + "/bin/host";
    struct Way {
        std::string executable;  // its folder is taken at construction
        std::function<void(CITolvane&)> name;
        int start;
    };
    const Way ways[] = {
        {beside, [](CITolvane&) {}, 0},  // default: NetWork.ini beside the executable
        {elsewhere, [&](CITolvane& h) { h.SetConfigDir(dir.c_str()); }, 0},
        {elsewhere, [&](CITolvane& h) { h.SetConfigDir((dir + "/").c_str()); }, 0},
        {elsewhere, [&](CITolvane& h) { h.SetConfigPathName(scene.ini.c_str()); }, 0},
        {elsewhere, [](CITolvane&) {}, -1},  // no file: defaults without an address
        {beside, [&](CITolvane& h) { h.SetConfigPathName((dir + "/missing.ini").c_str()); }, -1},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(&way - ways);
        platform::SetModuleFileNameForTest(way.executable);
        RecordingHost host;
        host.SetLogPath(scene.logDir.c_str());
        way.name(host);
        EXPECT_EQ(way.start, host.StartTolvane(0, 0));
        EXPECT_EQ(way.start == 0, peer.Accept(way.start == 0 ? 5000 : 0));
    }
    platform::SetModuleFileNameForTest("");
}

// The next message Recv gives within `timeoutMs`, or "<none>" (result 1).
std::string Recv(ONetworkItf* net, unsigned long timeoutMs) {
    static unsigned char buf[102400];
    int len = 0;
    const int result = net->Recv(0, 0, 0, buf, &len, timeoutMs);
    return result == 1 ? "<none>" : result ? "<" + std::to_string(result) + ">" : std::string(reinterpret_cast<char*>(buf), len);
}

// The factory interface sends message 9913 to the window named by NDCWND
// (a real window on Windows).
TEST(FactoryInterfaceTest, ControlReceiveAndHostWindowMessages) {
    ClientScene scene;
    LoopbackPeer peer;
    scene.Configure(peer.port(), "netheader=5");
    ExeFolder exe(scene.dir, false);
    HostWindowRecorder window;
    ONetworkItf* net = CreateNetworkInstance();
    EXPECT_EQ("<none>", Recv(net, 10));  // idle client: nothing, at once
    EXPECT_EQ(1, net->GetStatus(0, 0));
    EXPECT_EQ(0, net->Control(nullptr, scene.logDir.c_str(), nullptr, 0));
    EXPECT_EQ(0, net->Control("host text", scene.dir.file("elsewhere").c_str(), nullptr, 0));  // only the text
    const std::string params = "DEV=3;NDCWND = " + std::to_string(window.handle()) + ";X=1";
    EXPECT_EQ(0, net->Control(nullptr, nullptr, params.c_str(), 0));
    EXPECT_TRUE(scene.WaitForTrace(":host text\r\n"));

    ASSERT_EQ(0, net->Start(0, 0));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return net->GetStatus(0, 0) == 0; }));
    EXPECT_EQ("<none>", Recv(net, 50));  // connected, nothing came: 1, not -1
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2ok", 6)));
    EXPECT_EQ("ok", Recv(net, 5000));
    peer.Close();
    EXPECT_TRUE(WaitUntil([&] { return window.Messages().size() == 2; }));
    EXPECT_EQ((std::vector<intptr_t>{1, 2}), window.Messages());
    net->Release();  // stops the session first
    EXPECT_TRUE(scene.WaitForTrace("Close connection.127.0.0.1:0\r\n"));
}

TEST(FactoryInterfaceTest, ServerModeFromTheConfigurationFile) {
    ServerScene scene;
    scene.ConfigureServer("netheader=5", "[network]\ntcpipmode=1\n");
    ExeFolder exe(scene.dir, false);
    HostWindowRecorder window;
    ONetworkItf* net = CreateNetworkInstance();
    EXPECT_EQ(0, net->Control(nullptr, scene.logDir.c_str(), nullptr, 0));
    EXPECT_EQ(0, net->Control(nullptr, nullptr, ("NDCWND=" + std::to_string(window.handle())).c_str(), 0));
    ASSERT_EQ(0, net->Start(0, 0));
    EXPECT_TRUE(scene.WaitForTrace("Start Server Success, ServerPort=" + std::to_string(scene.port)));

    TcpConnection peer;
    ASSERT_TRUE(peer.Connect(scene.port));
    ASSERT_TRUE(WaitUntil([&] { return net->GetStatus(0, 0) == 0; }));
    ASSERT_TRUE(WaitUntil([&] { return !window.Messages().empty(); }));  // sent after the status changed
    EXPECT_EQ((std::vector<intptr_t>{1}), window.Messages());
    ASSERT_TRUE(peer.Send(Frame(5, "ok")));
    EXPECT_EQ("ok", Recv(net, 5000));
    EXPECT_EQ(6, net->Send(0, 0, 0, "up", 2, 0));
    EXPECT_EQ(Frame(5, "up"), peer.Receive(6));
    net->Release();  // stops the server first
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_TRUE(scene.WaitForTrace("Close DisConnect." + std::to_string(scene.port) + "\r\n"));
}

}  // namespace
