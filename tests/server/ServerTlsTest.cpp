// The server over TLS: a real TLS client, peers replacing, resetting and
// being refused, peers that break the TLS layer, and storms of replacements,
// resets and restarts.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "support/ChildProcess.h"
#include "support/Harness.h"
#include "tls/OSSL.h"

using namespace testsupport;

namespace {

// Certificates under their default names below the scene's folder, which
// poses as the executable's folder. Only 127.0.0.1 may connect; while
// `holdConnect` is set, OnConnect waits for `released`.
class ServerTls : public ::testing::Test {
protected:
    void SetUp() override {
        host.onConnect = [this] {
            if (holdConnect) WaitUntil([this] { return released.load(); });
        };
        WriteTextFile(clientIni, "[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\n");
        ASSERT_EQ(0, scene.StartServer(host, "netheader=0\nip=127.0.0.1\nSndRcvTimeout=5000",
                                       "[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\n"));
    }
    void TearDown() override { host.StopTolvane(); }

    // A TLS client on `peer` with its handshake done (the server completes
    // its side while it polls); null when it failed.
    std::unique_ptr<OSSL> ConnectTls(TcpConnection& peer) {
        auto tls = std::make_unique<OSSL>();
        if (tls->iLoadParameters(clientIni.c_str(), 1) != 1 || !peer.Connect(scene.port)) return nullptr;
        peer.MakeBlocking();
        return tls->iSSLConnect(peer.fd(), clientIni.c_str()) == 1 ? std::move(tls) : nullptr;
    }
    static std::string Read(OSSL& tls, size_t count) {
        std::string got(count, '\0');
        const int n = tls.iSSLReceive(&got[0], static_cast<int>(count));
        return got.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
    }

    ServerScene scene;
    ExeFolder exe{scene.dir};
    std::string clientIni = scene.dir.file("client.ini");
    std::atomic<bool> holdConnect{false}, released{false};
    RecordingHost host;
};

TEST_F(ServerTls, OpensslClientExchangesMessages) {
    ChildProcess client({"s_client", "-connect", "127.0.0.1:" + std::to_string(scene.port), "-CAfile", exe.certs.caCert,
                         "-verify_return_error", "-quiet"});
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    client.Write("from client\n");
    EXPECT_EQ("from client\n", NextMessage(host)) << client.output();
    const std::string reply = "from server\n";
    EXPECT_EQ(static_cast<int>(reply.size()), host.SendData(reply.data(), static_cast<int>(reply.size()), 0, nullptr, 0));
    EXPECT_TRUE(client.WaitForOutput("from server", 5000)) << client.output();
    EXPECT_TRUE(scene.WaitForTrace("CServerClient Svc  AsyncSelect(001)"));
}

// A peer from another address is refused before any TLS work: the allowed
// peer's session goes on in both directions.
TEST_F(ServerTls, RefusedPeerLeavesTheSessionAlone) {
    TcpConnection allowed;
    std::unique_ptr<OSSL> tls = ConnectTls(allowed);
    ASSERT_TRUE(tls);
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    TcpConnection stranger;
    ASSERT_TRUE(stranger.Connect(scene.port, "127.0.0.2"));
    EXPECT_TRUE(stranger.WaitClosed());
    ASSERT_TRUE(scene.WaitForTrace("Invalid IP connection 127.0.0.2:"));
    EXPECT_EQ(4, host.SendData("back", 4, 0, nullptr, 0));
    EXPECT_EQ("back", Read(*tls, 16));
    ASSERT_EQ(4, tls->iSSLSend("more", 4));
    EXPECT_EQ("more", NextMessage(host));
    EXPECT_EQ(1, host.connects);
    EXPECT_EQ(0, host.GetNetworkStatus());
}

// A send blocked on a peer that does not read fails when a new peer takes
// over; nothing of it reaches the new peer, whose first bytes are the host's
// first message to it.
TEST_F(ServerTls, ReplacementEndsABlockedSendBeforeTheNewPeerIsServed) {
    TcpConnection first;
    std::unique_ptr<OSSL> firstTls = ConnectTls(first);
    ASSERT_TRUE(firstTls);
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    std::atomic<bool> sending{false}, replacing{false}, senderDone{false};
    std::atomic<int> blockedResult{0};
    std::atomic<int64_t> sendStart{0};
    auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    std::thread sender([&] {
        const std::string big(100000, 'x');
        for (int i = 0; i < 1000; ++i) {
            sendStart = nowMs();
            sending = true;
            const int result = host.SendData(big.data(), static_cast<int>(big.size()), 0, nullptr, 0);
            sending = false;
            blockedResult = result;
            if (result < 0 || replacing) break;
        }
        senderDone = true;
    });
    // A send that has waited a second for room is blocked (the stall limit is 5 s).
    const bool blocked =
        WaitUntil([&] { return sending && nowMs() - sendStart > 1000; }, std::chrono::milliseconds(20000));
    replacing = true;
    TcpConnection second;
    std::unique_ptr<OSSL> secondTls = blocked ? ConnectTls(second) : nullptr;
    EXPECT_TRUE(WaitUntil([&] { return senderDone.load(); }));
    sender.join();
    ASSERT_TRUE(blocked);
    ASSERT_TRUE(secondTls);
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 2; }));
    EXPECT_LT(blockedResult, 0);
    EXPECT_EQ(5, host.SendData("fresh", 5, 0, nullptr, 0));
    EXPECT_EQ("fresh", Read(*secondTls, 5));
}

// A peer that resets while its OnConnect runs, and peers whose bytes break
// the TLS layer: each connection ends (status 1, its descriptor closed) at
// once, not when the next peer comes.
TEST_F(ServerTls, ResetAndBrokenTlsEndTheConnection) {
    {
        TcpConnection warm;  // the session's threads exist from here on
        ASSERT_TRUE(ConnectTls(warm));
        ASSERT_TRUE(scene.WaitForTrace("CServerClient Svc  AsyncSelect(001)"));
    }
    ASSERT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
    const int descriptors = SettledDescriptorCount();

    holdConnect = true;
    TcpConnection resetting;
    ASSERT_TRUE(resetting.Connect(scene.port));
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 2; }));
    resetting.Reset();
    released = true;
    EXPECT_TRUE(scene.WaitForTrace("OnClose(", 2));
    EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }));
    holdConnect = false;

    const std::string junk[] = {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", Bytes({0, 0xFF, 0x13, 0x37, 1, 2, 3, 4, 5})};
    for (const std::string& bytes : junk) {
        SCOPED_TRACE(bytes);
        const int before = host.connects;
        TcpConnection peer;
        ASSERT_TRUE(peer.Connect(scene.port));
        ASSERT_TRUE(WaitUntil([&] { return host.connects > before && host.GetNetworkStatus() == 0; }));
        ASSERT_TRUE(peer.Send(bytes));
        EXPECT_TRUE(peer.WaitClosed());
        EXPECT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 1; }));
        EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors + 1; }));  // + the peer's own
    }
    EXPECT_EQ(2u, CountOf(scene.Trace(), "TLS Failed("));
    EXPECT_TRUE(host.Received().empty());
    EXPECT_TRUE(host.CloseErrors().empty());
}

// Hundreds of peers replacing each other, resetting, and restarts of the
// server leave one session's threads and descriptors; a TLS peer is served
// afterwards.
TEST_F(ServerTls, StormsOfReplacementsResetsAndRestartsLeaveThreadsAndDescriptorsAtBaseline) {
    TcpConnection peer;
    std::unique_ptr<OSSL> tls = ConnectTls(peer);
    ASSERT_TRUE(tls);
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    ASSERT_TRUE(scene.WaitForTrace("CServerClient Svc  AsyncSelect(001)"));
    const int threads = CountThreads();
    const int descriptors = SettledDescriptorCount();

    for (int i = 0; i < 300; ++i) {
        const int before = host.connects;
        TcpConnection next;
        ASSERT_TRUE(next.Connect(scene.port)) << i;
        ASSERT_TRUE(WaitUntil([&] { return host.connects > before; })) << i;
        if (i % 3 == 1) next.Reset();
        if (i % 3 == 2) {
            ASSERT_EQ(0, host.StopTolvane()) << i;
            ASSERT_EQ(0, host.StartTolvane(1, 0)) << i;
        }
    }
    tls = ConnectTls(peer);
    ASSERT_TRUE(tls);
    ASSERT_TRUE(WaitUntil([&] { return host.GetNetworkStatus() == 0; }));
    ASSERT_EQ(3, tls->iSSLSend("one", 3));
    EXPECT_EQ("one", NextMessage(host));
    EXPECT_EQ(4, host.SendData("back", 4, 0, nullptr, 0));
    EXPECT_EQ("back", Read(*tls, 16));
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }));
    EXPECT_TRUE(host.CloseErrors().empty());
}

}  // namespace
