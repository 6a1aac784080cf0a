// What only the Windows build shows: the executable's folder as Windows
// names it, the defaults formed beside it with '\', trace records with CR LF,
// and a configuration that asks for TLS in a build without it.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/ModuleDir.h"
#include "devkit/LoopbackPort.h"
#include "interface/Tolvane.h"
#include "log/TraceLog.h"
#include "platform/Paths.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

// The folder as Windows names it ("Z:\...\t.xxxxxx" under Wine).
std::string WindowsPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return std::string(full, n);
}

// Pretends the executable lives in a folder of its own, named with '\'.
struct WindowsExeFolder {
    WindowsExeFolder() : folder(WindowsPath(dir.path())) { platform::SetModuleFileNameForTest(folder + "\\host.exe"); }
    ~WindowsExeFolder() { platform::SetModuleFileNameForTest(std::string()); }
    TempDir dir;
    std::string folder;
};

TEST(WindowsPathsTest, ModuleFolderIsCutAtTheLastBackslash) {
    const std::string exe = platform::ProcessModuleFileName();
    ASSERT_GT(exe.size(), 3u);
    EXPECT_EQ(":\\", exe.substr(1, 2));
    EXPECT_EQ(exe.substr(0, exe.rfind('\\')), GetModuleDirString(1000));
    EXPECT_EQ('\\', platform::PathSeparator());
}

TEST(WindowsPathsTest, DefaultsBesideTheExecutableAndTraceRecordsEndInCrLf) {
    WindowsExeFolder exe;
    {
        CITolvane service;  // trace folder "<exe folder>\Log\", configuration "<exe folder>\NetWork.ini"
        service.Log("first");
        service.Log("second");
    }
    CTraceLog probe;
    EXPECT_EQ(0u, probe.CurrentLogFile().rfind(exe.folder + "\\Log\\Tolvane", 0)) << probe.CurrentLogFile();
    const std::string trace = ReadTextFile(probe.CurrentLogFile());
    ASSERT_EQ(2u, CountOf(trace, "\r\n")) << trace;
    EXPECT_EQ(":first\r\n", trace.substr(24, 8));
    EXPECT_EQ(":second\r\n", trace.substr(trace.size() - 9));

    // The factory interface takes its mode from "<exe folder>\NetWork.ini".
    WriteTextFile(exe.folder + "\\NetWork.ini", "[network]\ntcpipmode=1\n[TcpServerSession-0]\nport=" +
                                                     std::to_string(devkit::FreeLoopbackPort()) + "\n");
    ONetworkItf* net = CreateNetworkInstance();
    EXPECT_EQ(0, net->Start(0, 0));  // as a server: a client without an address could not start
    net->Release();
}

TEST(WindowsPathsTest, TlsAskedForInABuildWithoutItFailsTheStart) {
    ServerScene scene;
    CITolvane server;
    EXPECT_EQ(-1, scene.StartServer(server, "", "[SSLConfig]\nUseSSL=1\n"));
    CITolvane client;
    EXPECT_EQ(-1, scene.Start(client, scene.port, "[SSLConfig]\nUseSSL=1\n"));
    EXPECT_TRUE(scene.WaitForTrace("UseSSL=1 refused: this build of the library has no TLS support", 2));
}

}  // namespace
