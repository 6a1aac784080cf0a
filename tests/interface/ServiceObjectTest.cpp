#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "interface/Tolvane.h"
#include "log/TraceLog.h"
#include "platform/Paths.h"
#include "support/ClientHarness.h"
#include "support/LoopbackPeer.h"

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// A constructed, never started service answers as an idle client.
TEST(ServiceObjectTest, IdleAnswers) {
    CITolvane service;
    EXPECT_EQ(1, service.GetNetworkStatus());
    static unsigned char buf[102400];
    int len = 0;
    auto start = Clock::now();
    EXPECT_EQ(-1, service.RecvData(buf, &len, 5000));
    EXPECT_EQ(-1, service.RecvData(nullptr, &len, 5000));
    EXPECT_EQ(-1, service.RecvData(buf, nullptr, 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(-1, service.SendData("abc", 3, 0, nullptr, 0));
    EXPECT_EQ(0, service.SetRecvDataType(1));
    for (unsigned long cmd : {1ul, 3ul, 4ul, 7ul, 99ul}) EXPECT_EQ(0, service.ExecuteCMD(cmd, nullptr, 0, nullptr, nullptr, 0));
    EXPECT_EQ(0, service.StopTolvane());
    service.SetConfigDir(nullptr);
    service.SetConfigPathName(nullptr);
    service.SetLogPath(nullptr);
    service.SetLogName(nullptr);
    service.Log(nullptr);
}

TEST(ServiceObjectTest, ConfigurationPathDefaultsAndSetters) {
    LoopbackPeer peer;
    ClientScene scene;
    scene.Configure(peer.port());
    // Default: NetWork.ini beside the executable.
    platform::SetModuleFileNameForTest(scene.dir.file("host"));
    {
        RecordingHost host;
        host.SetLogPath(scene.logDir.c_str());
        EXPECT_EQ(0, host.StartTolvane(0, 0));
        EXPECT_TRUE(peer.Accept());
        host.StopTolvane();
    }
    platform::SetModuleFileNameForTest("");
    // A folder with or without its separator names the same file.
    for (std::string dir : {scene.dir.path(), scene.dir.path() + "/"}) {
        RecordingHost host;
        host.SetConfigDir(dir.c_str());
        host.SetLogPath(scene.logDir.c_str());
        EXPECT_EQ(0, host.StartTolvane(0, 0)) << dir;
        EXPECT_TRUE(peer.Accept());
        host.StopTolvane();
    }
    // Any file name, and a missing file gives the defaults (no address: -1).
    RecordingHost host;
    host.SetLogPath(scene.logDir.c_str());
    host.SetConfigPathName(scene.ini.c_str());
    EXPECT_EQ(0, host.StartTolvane(0, 0));
    host.StopTolvane();
    host.SetConfigPathName(scene.dir.file("missing.ini").c_str());
    EXPECT_EQ(-1, host.StartTolvane(0, 0));
}

TEST(ServiceObjectTest, LogSettersCommandsAndModeSwitch) {
    TempDir dir;
    CITolvane service;
    service.SetLogPath((dir.path() + "/trace").c_str());  // a separator is added
    service.SetLogName("Term");
    service.Log("hello from the host");
    EXPECT_EQ(-1, service.SendData(nullptr, 5, 0, nullptr, 0));  // traces nothing

    CTraceLog probe;  // names today's file the way the service does
    probe.SetLogPath((dir.path() + "/trace/").c_str());
    probe.SetLogName("Term");
    std::string file = probe.CurrentLogFile();
    std::string text = ReadTextFile(file);
    EXPECT_NE(std::string::npos, text.find(":hello from the host\r\n"));
    EXPECT_EQ(1u, CountOf(text, "\r\n"));

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

}  // namespace
