// WebSocket peers of the server: Python's websockets client and a page in
// headless Chromium, each talking to a host that echoes every message.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <unistd.h>

#include <iomanip>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

const std::string kClients = TOLVANE_WS_CLIENTS;

bool Installed(const char* program) { return access(program, X_OK) == 0; }

// Headless Chromium showing the test page against the server (with `query`
// ahead of the port); `report` is what the page sends last, or "" when
// nothing came within 30 s. The browser runs until the object goes.
struct PageRun {
    PageRun(const ServerScene& scene, RecordingHost& host, const std::string& query)
        : browser("/usr/bin/chromium",
                  {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + scene.dir.file("profile"),
                   "file://" + kClients + "/ws_page.html?" + query + "port=" + std::to_string(scene.port)}) {
        WaitUntil(
            [&] {
                for (const std::string& m : host.Received())
                    if (m.rfind("REPORT ", 0) == 0) report = m;
                return !report.empty();
            },
            std::chrono::seconds(30));
    }
    ChildProcess browser;
    std::string report;
};

constexpr const char* kStrictKeys = "IsWebsocket=1\nWebsocketStrict=1\nSplitReads=1";

// SHA-256 of the messages one after the other, in hex.
std::string Digest(const std::vector<std::string>& messages) {
    std::string all;
    for (const std::string& m : messages) all += m;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(all.data(), all.size(), digest, &length, EVP_sha256(), nullptr);
    std::ostringstream hex;
    for (unsigned i = 0; i < length; ++i) hex << std::hex << std::setw(2) << std::setfill('0') << int(digest[i]);
    return hex.str();
}

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
    PageRun page(scene, host, "");
    EXPECT_EQ("REPORT {\"ok\":true,\"count\":6}", page.report) << page.browser.output();
    EXPECT_EQ(std::string(4000, 'f'), host.Received().at(5));
}

// Both keys on: 2000 messages of 1 byte to 100 KB, text and binary, back to
// back and echoed, the client's keep-alive (a ping every second, answered
// within two) for 6 s, a clean close.
TEST(ServerWebSocket, PythonClientStaysConnectedAndLosesNothingInStrictMode) {
    if (!Installed("/usr/bin/python3")) GTEST_SKIP() << "python3 missing";
    ServerScene scene;
    EchoingHost host;
    ASSERT_EQ(0, scene.StartServer(host, kStrictKeys));
    ASSERT_EQ(0, host.SetRecvDataType(1));
    ChildProcess client("/usr/bin/python3", {kClients + "/ws_soak.py", std::to_string(scene.port), "2000", "6", "1"});
    ASSERT_TRUE(client.WaitForOutput("\nend\n", 100000)) << client.output();
    EXPECT_NE(std::string::npos, client.output().find("echoed 2000\n")) << client.output();
    EXPECT_NE(std::string::npos, client.output().find("closed 1000\n")) << client.output();
    std::vector<std::string> received = host.Received();
    ASSERT_GE(received.size(), 2000u);
    received.resize(2000);  // the ticks of the keep-alive phase follow
    EXPECT_NE(std::string::npos, client.output().find("sent 2000 " + Digest(received) + "\n")) << client.output();
    EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(scene.WaitForTrace("Websocket Close(1000) Answered. Connection Closed."));
}

// The browser in strict mode: a burst of text and binary messages up to 100 KB.
TEST(ServerWebSocket, ChromiumBurstsBinaryAndLargeMessagesInStrictMode) {
    if (!Installed("/usr/bin/chromium")) GTEST_SKIP() << "chromium missing";
    ServerScene scene;
    EchoingHost host;
    ASSERT_EQ(0, scene.StartServer(host, kStrictKeys));
    const std::string sizes = "1,2,125,126,65535,65536,100000,102400,7,3000,50000,102399";
    PageRun page(scene, host, "burst=1&binary=1&sizes=" + sizes + "&");
    EXPECT_EQ("REPORT {\"ok\":true,\"count\":12}", page.report) << page.browser.output();
    EXPECT_EQ(13u, host.Received().size());
    EXPECT_TRUE(scene.WaitForTrace("Websocket Close(1000) Answered. Connection Closed."));
    EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
}

}  // namespace
