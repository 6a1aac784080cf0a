#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "interface/Tolvane.h"
#include "platform/Paths.h"
#include "platform/Time.h"
#include "support/ClientHarness.h"
#include "support/LoopbackPeer.h"

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class ClientSessionTest : public ::testing::Test {
protected:
    void Start(int port, const std::string& extra = std::string()) {
        scene.Configure(port, extra);
        scene.Attach(host);
        ASSERT_EQ(0, host.StartTolvane(0, 0));
    }
    void TearDown() override { host.StopTolvane(); }

    ClientScene scene;
    RecordingHost host;
};

TEST_F(ClientSessionTest, ConnectsReportsLossAndReconnects) {
    LoopbackPeer peer;
    Start(peer.port());
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    EXPECT_EQ(0, host.GetNetworkStatus());
    EXPECT_TRUE(scene.WaitForTrace("Connect OK.127.0.0.1:" + std::to_string(peer.port())));

    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return host.closes == 1; }));
    EXPECT_EQ(std::vector<int>{0}, host.CloseErrors());
    EXPECT_EQ(1, host.GetNetworkStatus());
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 2; }));

    peer.Reset();
    ASSERT_TRUE(WaitUntil([&] { return host.closes == 2; }));
    EXPECT_EQ(10054, host.CloseErrors().at(1));
    std::string trace = scene.Trace();
    EXPECT_NE(std::string::npos, trace.find(":OnClose(000):("));
    EXPECT_NE(std::string::npos, trace.find("Wait Data Event From Windows. WaitForSingleObject (m_hConnectEvent, INFINITE). \r\n"));
}

TEST_F(ClientSessionTest, StartNeedsAddressAndPortAndStartsOnce) {
    scene.Configure(0);
    scene.Attach(host);
    EXPECT_EQ(-1, host.StartTolvane(0, 0));
    LoopbackPeer peer;
    scene.Configure(peer.port());
    ASSERT_EQ(0, host.StartTolvane(0, 0));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    const int threads = CountThreads();
    // A second start reads the configuration again but starts no second thread.
    ASSERT_EQ(0, host.StartTolvane(0, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(1, host.connects);
}

TEST_F(ClientSessionTest, UnreachableHostIsReportedOncePerPhaseThenEvery30Seconds) {
    static std::atomic<uint32_t> tick{100000};
    platform::SetTickSource([] { return tick.load(); });
    Start(RefusingPort(), "[NetworkPara_client_0]\nConnectContinues=3\nReconnInterval=20\n");
    ASSERT_TRUE(scene.WaitForTrace("ReConnect......"));
    // Several cycles of attempts pass without another report.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string trace = scene.Trace();
    EXPECT_EQ(1u, CountOf(trace, ":Connect Fail.127.0.0.1:"));
    EXPECT_EQ(1u, CountOf(trace, ":ReConnect......\r\n"));
    EXPECT_NE(std::string::npos, trace.find(", LastError=10061\r\n"));
    tick += 30000;
    EXPECT_TRUE(scene.WaitForTrace("ReConnect......", 2));
    EXPECT_EQ(2u, CountOf(scene.Trace(), ":Connect Fail.127.0.0.1:"));
    platform::SetTickSource(nullptr);
}

TEST_F(ClientSessionTest, ZeroConnectContinuesMakesNoAttempt) {
    LoopbackPeer peer;
    Start(peer.port(), "[NetworkPara_client_0]\nConnectContinues=0\nReconnInterval=10\n");
    EXPECT_FALSE(peer.Accept(400));
    EXPECT_EQ(0u, CountOf(scene.Trace(), "Connect Fail"));
}

// Hosts 0, 1 and 2 listen; every loss moves the client to the next host.
TEST_F(ClientSessionTest, HostListRotatesAfterEachLossAndEachFailedCycle) {
    LoopbackPeer peers[3];
    std::string ini = "[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=3\n";
    for (int i = 1; i < 3; ++i)
        ini += "[TcpClientSession-" + std::to_string(i) + "]\nip=127.0.0.1\nport=" + std::to_string(peers[i].port()) + "\n";
    Start(peers[0].port(), ini);
    for (int round : {0, 1, 2, 0}) {
        ASSERT_TRUE(peers[round].Accept()) << "round for host " << round;
        peers[round].Close();
    }
    host.StopTolvane();

    // A refused own host is left for the next one after one cycle.
    ClientScene other;
    RecordingHost second;
    LoopbackPeer live;
    other.Configure(RefusingPort(), "[NetworkPara_client_0]\nConnectContinues=2\nReconnInterval=10\n" + std::string(
                                        "[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=2\n"
                                        "[TcpClientSession-1]\nip=127.0.0.1\nport=") + std::to_string(live.port()));
    other.Attach(second);
    ASSERT_EQ(0, second.StartTolvane(0, 0));
    EXPECT_TRUE(live.Accept());
    second.StopTolvane();

    // Without "AutoConnectOtherServer" the own host is retried after a loss.
    ClientScene plain;
    RecordingHost third;
    plain.Configure(live.port(), "[SESSIONNUM]\nclientnum=2\n[TcpClientSession-1]\nip=127.0.0.1\nport=" +
                                     std::to_string(peers[1].port()));
    plain.Attach(third);
    ASSERT_EQ(0, third.StartTolvane(0, 0));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(live.Accept());
        live.Close();
    }
    EXPECT_FALSE(peers[1].Accept(100));
    third.StopTolvane();
}

TEST_F(ClientSessionTest, BusyLocalPortFallsBackToAnyPort) {
    LoopbackPeer holder, peer;  // `holder` only lends its port number
    Start(peer.port(), "cport=" + std::to_string(holder.port()));
    ASSERT_TRUE(peer.Accept());
    std::string cport = std::to_string(holder.port());
    EXPECT_TRUE(scene.WaitForTrace("Create Socket Fail.ClientPort=" + cport + ", LastError=10048"));
    EXPECT_TRUE(scene.WaitForTrace("Create Socket Success. ClientPort=" + cport));
}

TEST_F(ClientSessionTest, StopEndsTheSessionInEveryState) {
    struct Case {
        const char* name;
        std::string extra;
        bool live;
    };
    LoopbackPeer peer;
    FullBacklogListener full;
    const Case cases[] = {
        {"connected", "", true},
        {"connecting", "[NetworkPara_client_0]\nReconnInterval=60000\n", false},
        {"pausing", "[NetworkPara_client_0]\nConnectContinues=1\nReconnInterval=60000\n", false},
        {"hanging connect", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientScene s;
        RecordingHost h;
        int port = c.live ? peer.port() : (std::string(c.name) == "hanging connect" ? full.port() : RefusingPort());
        s.Configure(port, c.extra);
        s.Attach(h);
        ASSERT_EQ(0, h.StartTolvane(0, 0));
        if (c.live) ASSERT_TRUE(WaitUntil([&] { return h.connects == 1; }));
        else std::this_thread::sleep_for(std::chrono::milliseconds(150));  // let it get into its state
        auto start = Clock::now();
        EXPECT_EQ(0, h.StopTolvane());
        EXPECT_LT(MsSince(start), 3000);
        EXPECT_EQ(1, h.GetNetworkStatus());
        EXPECT_TRUE(s.WaitForTrace("SetExitFlag TRUE EXIT"));
        if (c.live) peer.Accept(10);
    }
}

// A host may stop the service from inside its own notifications.
class StoppingHost : public RecordingHost {
public:
    void OnConnect(int) override {
        auto start = Clock::now();
        StopTolvane();
        stopMs = MsSince(start);
    }
    std::atomic<long> stopMs{-1};
};

TEST(ClientStopTest, StopFromInsideANotification) {
    LoopbackPeer peer;
    ClientScene scene;
    StoppingHost host;
    scene.Configure(peer.port());
    scene.Attach(host);
    ASSERT_EQ(0, host.StartTolvane(0, 0));
    ASSERT_TRUE(WaitUntil([&] { return host.stopMs >= 0; }));
    EXPECT_LT(host.stopMs, 3000);
    EXPECT_EQ(1, host.GetNetworkStatus());
    EXPECT_TRUE(scene.WaitForTrace("SetExitFlag TRUE EXIT"));
}

TEST_F(ClientSessionTest, RepeatedStartStopLeaksNothing) {
    LoopbackPeer peer;
    scene.Configure(peer.port());
    scene.Attach(host);
    ASSERT_EQ(0, host.StartTolvane(0, 0));
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }));
    host.StopTolvane();
    peer.Close();
    const int fds = CountOpenDescriptors(), threads = CountThreads();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, host.StartTolvane(0, 0));
        host.StopTolvane();
    }
    ASSERT_EQ(0, host.StartTolvane(0, 0));
    ASSERT_TRUE(peer.Accept());
    host.StopTolvane();
    peer.Close();
    // The notification thread of the socket object stays for the object's life.
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == fds; }));
}

TEST_F(ClientSessionTest, QueuedMessagesOutliveTheConnection) {
    LoopbackPeer peer;
    Start(peer.port(), "netheader=5");
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi\0\0\0\3you", 13)));
    ASSERT_TRUE(WaitUntil([&] { return host.Received().size() == 2; }));
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return host.closes == 1; }));
    static unsigned char buf[102400];
    int len = 0;
    ASSERT_EQ(0, host.RecvData(buf, &len, 0));
    EXPECT_EQ("hi", std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)));
    ASSERT_EQ(0, host.RecvData(buf, &len, 0));
    EXPECT_EQ("you", std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)));
    auto start = Clock::now();
    EXPECT_EQ(-1, host.RecvData(buf, &len, 5000));  // disconnected and empty: at once
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(-1, host.RecvData(nullptr, &len, 5000));
    EXPECT_EQ(-1, host.RecvData(buf, nullptr, 5000));
}

TEST_F(ClientSessionTest, ReceiveTypeOneReachesOnlyTheNotification) {
    LoopbackPeer peer;
    Start(peer.port(), "netheader=5");
    ASSERT_EQ(0, host.SetRecvDataType(1));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi", 6)));
    ASSERT_TRUE(WaitUntil([&] { return host.Received().size() == 1; }));
    static unsigned char buf[102400];
    int len = 0;
    EXPECT_EQ(-1, host.RecvData(buf, &len, 100));
}

}  // namespace
