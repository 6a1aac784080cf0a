// WebSocket peers of the server: Python's websockets client and a page in
// headless Chromium, each talking to a host that echoes every message.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/ChildProcess.h"
#include "support/ServerHarness.h"

using namespace testsupport;

namespace {

const std::string kClients = TOLVANE_WS_CLIENTS;

bool Installed(const char* program) { return access(program, X_OK) == 0; }

TEST(ServerWebSocket, PythonClientExchangesTextInCodePage936) {
    if (!Installed("/usr/bin/python3")) GTEST_SKIP() << "python3 missing";
    ServerScene scene;
    EchoingHost host;
    ASSERT_EQ(0, scene.StartServer(host, "IsWebsocket=1\nIsUTF8TextData=1\nUTF8TextCodePage=936"));
    ChildProcess client("/usr/bin/python3", {kClients + "/ws_exchange.py", std::to_string(scene.port), "hello",
                                             "\xE4\xBD\xA0\xE5\xA5\xBD"});  // "ni hao" in UTF-8
    ASSERT_TRUE(client.WaitForOutput("closed", 20000)) << client.output();
    EXPECT_NE(std::string::npos, client.output().find("\"hello\"\n\"\\u4f60\\u597d\"\n")) << client.output();
    const std::vector<std::string> received = host.Received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ("hello", received[0]);
    EXPECT_EQ("\xC4\xE3\xBA\xC3", received[1]);  // the same text in code page 936
    EXPECT_TRUE(scene.WaitForTrace("Sec-WebSocket-Accept: "));
}

TEST(ServerWebSocket, ChromiumPageSendsAndReceives) {
    if (!Installed("/usr/bin/chromium")) GTEST_SKIP() << "chromium missing";
    ServerScene scene;
    EchoingHost host;
    ASSERT_EQ(0, scene.StartServer(host, "IsWebsocket=1"));
    ChildProcess browser("/usr/bin/chromium",
                         {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + scene.dir.file("profile"),
                          "file://" + kClients + "/ws_page.html?port=" + std::to_string(scene.port)});
    auto report = [&] {
        for (const std::string& m : host.Received())
            if (m.rfind("REPORT ", 0) == 0) return m;
        return std::string();
    };
    ASSERT_TRUE(WaitUntil([&] { return !report().empty(); }, std::chrono::seconds(30))) << browser.output();
    EXPECT_EQ("REPORT {\"ok\":true,\"count\":6}", report());
    EXPECT_EQ(std::string(4000, 'f'), host.Received().at(5));
}

}  // namespace
