#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "support/ChildProcess.h"
#include "support/Harness.h"

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string Session(int n, int port) { return SessionSection(n, "127.0.0.1", port); }

// The configured local port is taken: the client falls back to any port.
TEST(ClientSessionTest, ConnectsReportsLossAndReconnects) {
    LoopbackPeer holder;  // only lends its port number
    const std::string cport = std::to_string(holder.port());
    ConnectedClient c("cport=" + cport);
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(c.scene.WaitForTrace("Create Socket Fail.ClientPort=" + cport + ", LastError=10048"));
    EXPECT_TRUE(c.scene.WaitForTrace("Create Socket Success. ClientPort=" + cport));
    EXPECT_TRUE(c.scene.WaitForTrace("Connect OK.127.0.0.1:" + std::to_string(c.peer.port())));
    c.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return c.host.CloseErrors().size() == 1; }));
    EXPECT_EQ(1, c.host.GetNetworkStatus());
    ASSERT_TRUE(c.peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return c.host.connects == 2; }));
    c.peer.Reset();
    ASSERT_TRUE(WaitUntil([&] { return c.host.CloseErrors().size() == 2; }));
    EXPECT_EQ((std::vector<int>{0, 10054}), c.host.CloseErrors());
    std::string trace = c.scene.Trace();
    EXPECT_NE(std::string::npos, trace.find(":OnClose(000):("));
    EXPECT_NE(std::string::npos, trace.find("Wait Data Event From Windows. WaitForSingleObject (m_hConnectEvent, INFINITE). \r\n"));
}

TEST(ClientSessionTest, StartNeedsAddressAndPort) {
    ClientScene scene;
    RecordingHost host;
    EXPECT_EQ(-1, scene.Start(host, 0));
    WriteTextFile(scene.ini, "[TcpClientSession-0]\nport=5\n");
    EXPECT_EQ(-1, host.StartTolvane(0, 0));
}

// The session reads the tick clock once when it starts connecting and once per failed attempt.
TEST(ClientSessionTest, UnreachableHostIsReportedOncePerPhaseThenEvery30Seconds) {
    FakeTick tick(100000);
    ClientScene scene;
    RecordingHost host;
    ASSERT_EQ(0, scene.Start(host, RefusingPort(), "[NetworkPara_client_0]\nConnectContinues=3\nReconnInterval=20\n"));
    // Eight failed attempts: two whole cycles and part of a third.
    ASSERT_TRUE(WaitUntil([] { return FakeTick::reads >= 9; }));
    std::string trace = scene.Trace();
    EXPECT_EQ(1u, CountOf(trace, ":Connect Fail.127.0.0.1:"));
    EXPECT_EQ(1u, CountOf(trace, ":ReConnect......\r\n"));
    EXPECT_NE(std::string::npos, trace.find(", LastError=10061\r\n"));
    FakeTick::now += 30000;
    EXPECT_TRUE(scene.WaitForTrace("ReConnect......", 2));
    EXPECT_EQ(2u, CountOf(scene.Trace(), ":Connect Fail.127.0.0.1:"));
}

// Cycles without attempts still pause: no setting makes the session thread spin.
TEST(ClientSessionTest, CyclesWithoutAttemptsMakeNoAttemptAndDoNotSpin) {
    LoopbackPeer peer;
    // What the process spends waiting without a client (Wine's own threads
    // take some) is not the client's.
    const long idleStart = CpuTimeMs();
    EXPECT_FALSE(peer.Accept(400));
    const long idle = CpuTimeMs() - idleStart;
    for (const char* keys : {"ConnectContinues=0\nReconnInterval=10", "ConnectContinues=0\nReconnInterval=-1",
                             "ConnectContinues=-3\nReconnInterval=0"}) {
        SCOPED_TRACE(keys);
        ClientScene scene;
        RecordingHost host;
        ASSERT_EQ(0, scene.Start(host, peer.port(), std::string("[NetworkPara_client_0]\n") + keys + "\n"));
        const long cpu = CpuTimeMs();
        EXPECT_FALSE(peer.Accept(400));
        EXPECT_LT(CpuTimeMs() - cpu - idle, 40) << "CPU time";  // spinning costs 80 ms and more
        EXPECT_EQ(0u, CountOf(scene.Trace(), "Connect Fail"));
    }
}

TEST(ClientSessionTest, HostListRotatesAfterEachLossAndEachFailedCycle) {
    LoopbackPeer peers[3], live;
    const std::string others = "[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\n";
    {  // Hosts 0, 1 and 2 listen; every loss moves the client to the next host.
        ClientScene scene;
        RecordingHost host;
        ASSERT_EQ(0, scene.Start(host, peers[0].port(),
                                 others + "clientnum=3\n" + Session(1, peers[1].port()) + Session(2, peers[2].port())));
        for (int round : {0, 1, 2, 0}) {
            ASSERT_TRUE(peers[round].Accept()) << "round for host " << round;
            peers[round].Close();
        }
    }
    {  // A refused own host is left for the next one after one cycle.
        ClientScene scene;
        RecordingHost host;
        ASSERT_EQ(0, scene.Start(host, RefusingPort(), "[NetworkPara_client_0]\nConnectContinues=2\nReconnInterval=10\n" +
                                                            others + "clientnum=2\n" + Session(1, live.port())));
        EXPECT_TRUE(live.Accept());
    }
    // Without "AutoConnectOtherServer" the own host is retried after a loss.
    ClientScene scene;
    RecordingHost host;
    ASSERT_EQ(0, scene.Start(host, live.port(), "[SESSIONNUM]\nclientnum=2\n" + Session(1, peers[2].port())));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(live.Accept());
        live.Close();
    }
    EXPECT_FALSE(peers[2].Accept(100));
}

// In every state, and from inside the host's own OnConnect, a stop ends the
// session at once.
TEST(ClientSessionTest, StopEndsTheSessionInEveryState) {
    LoopbackPeer peer;
    FullBacklogListener full;
    const int refusing = RefusingPort();
    struct Case {
        const char* name;
        int port;
        std::string extra, reached;  // keys, and the trace line that shows the state was reached
        bool inOnConnect;
    };
    const Case cases[] = {
        {"connected", peer.port(), "", "Connect OK.", false},
        {"connecting", refusing, "[NetworkPara_client_0]\nReconnInterval=60000\n", "ReConnect......", false},
        {"pausing", peer.port(), "[NetworkPara_client_0]\nConnectContinues=0\nReconnInterval=60000\n",
         "Create Socket Success.", false},
        {"hanging connect", full.port(), "", "Create Socket Success.", false},
        {"inside OnConnect", peer.port(), "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientScene scene;
        RecordingHost host;
        std::atomic<long> stopMs{-1};
        auto stop = [&] {
            auto start = Clock::now();
            EXPECT_EQ(0, host.StopTolvane());
            stopMs = MsSince(start);
        };
        if (c.inOnConnect) host.onConnect = stop;
        ASSERT_EQ(0, scene.Start(host, c.port, c.extra));
        if (!c.inOnConnect) {
            ASSERT_TRUE(scene.WaitForTrace(c.reached));
            stop();
        }
        ASSERT_TRUE(WaitUntil([&] { return stopMs >= 0; }));
        EXPECT_LT(stopMs, 3000);
        EXPECT_EQ(1, host.GetNetworkStatus());
        EXPECT_TRUE(scene.WaitForTrace("SetExitFlag TRUE EXIT"));
    }
}

// A connection's data and close, already waiting while the host is still in
// OnConnect, reach it after OnConnect, and the status agrees with each call.
TEST(ClientSessionTest, NotificationsOfAConnectionFollowItsOnConnect) {
    LoopbackPeer peer;
    ClientScene scene;
    RecordingHost host;
    std::atomic<bool> peerDone{false};
    host.onConnect = [&] { WaitUntil([&] { return peerDone.load(); }); };
    ASSERT_EQ(0, scene.Start(host, peer.port(), "netheader=5"));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi", 6)));
    peer.Close();
    peerDone = true;
    ASSERT_TRUE(WaitUntil([&] { return host.Events().size() >= 3; }));
    EXPECT_EQ((std::vector<std::string>{"connect:0", "receive:0", "close:1"}), host.Events());
}

// A stop returns only once a notification in progress has returned, however
// long it takes, so that the host may destroy the object at once.
TEST(ClientSessionTest, StopWaitsForANotificationInProgress) {
    LoopbackPeer peer;
    ClientScene scene;
    RecordingHost host;
    std::atomic<bool> inHandler{false}, stopped{false}, handlerDone{false};
    host.onReceive = [&] {
        inHandler = true;
        WaitUntil([&] { return stopped.load(); }, std::chrono::milliseconds(2500));  // longer than any stop limit
        handlerDone = true;
    };
    ASSERT_EQ(0, scene.Start(host, peer.port(), "netheader=5"));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.Send(std::string("\0\0\0\2hi", 6)));
    ASSERT_TRUE(WaitUntil([&] { return inHandler.load(); }));
    host.StopTolvane();
    stopped = true;
    EXPECT_TRUE(handlerDone);
}

TEST(ClientSessionTest, StartsOnceAndRepeatedStartStopLeaksNothing) {
    ConnectedClient c;
    ASSERT_TRUE(c.ok);
    const int threads = CountThreads();
    // A second start reads the configuration again but starts no second thread.
    ASSERT_EQ(0, c.host.StartTolvane(0, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // nothing to await: nothing may happen
    EXPECT_EQ(threads, CountThreads());
    EXPECT_EQ(1, c.host.connects);
    c.host.StopTolvane();
    c.peer.Close();
    const int fds = CountOpenDescriptors(), stopped = CountThreads();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, c.host.StartTolvane(0, 0));
        c.host.StopTolvane();
    }
    ASSERT_EQ(0, c.host.StartTolvane(0, 0));
    ASSERT_TRUE(c.peer.Accept());
    c.host.StopTolvane();
    c.peer.Close();
    // The notification thread of the socket object stays for the object's life.
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == stopped; }));
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == fds; }));
}

// Host threads take turns only for the copy: a short RecvData never waits
// behind another thread's long one.
TEST(ClientSessionTest, EachRecvDataCallerWaitsOnlyItsOwnTimeOut) {
    ConnectedClient c("netheader=5");
    ASSERT_TRUE(c.ok);
    std::thread longWait([&] { EXPECT_EQ("late", c.Next(20000)); });
    for (unsigned long timeout : {0ul, 50ul, 0ul, 50ul}) {
        auto start = Clock::now();
        EXPECT_EQ("<none>", c.Next(timeout));
        EXPECT_LT(MsSince(start), 1000) << "time-out " << timeout;
    }
    ASSERT_TRUE(c.peer.Send(std::string("\0\0\0\4late", 8)));
    longWait.join();
}

TEST(ClientSessionTest, QueuedMessagesOutliveTheConnectionUnlessOnlyNotified) {
    ConnectedClient c("netheader=5");
    ASSERT_TRUE(c.ok);
    ASSERT_TRUE(c.peer.Send(std::string("\0\0\0\2hi\0\0\0\3you", 13)));
    ASSERT_TRUE(WaitUntil([&] { return c.host.Received().size() == 2; }));
    c.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return c.host.CloseErrors().size() == 1; }));
    EXPECT_EQ("hi", c.Next(0));
    EXPECT_EQ("you", c.Next(0));
    auto start = Clock::now();
    EXPECT_EQ("<none>", c.Next(5000));  // disconnected and empty: at once
    EXPECT_LT(MsSince(start), 1000);

    ConnectedClient notified("netheader=5");
    ASSERT_TRUE(notified.ok);
    ASSERT_EQ(0, notified.host.SetRecvDataType(1));
    ASSERT_TRUE(notified.peer.Send(std::string("\0\0\0\2hi", 6)));
    ASSERT_TRUE(WaitUntil([&] { return notified.host.Received().size() == 1; }));
    EXPECT_EQ("<none>", notified.Next(100));
}

// The client over TLS against `openssl s_server -rev`, which answers every
// line with the line reversed, in both ways of reading TLS data.
// Certificate paths are relative to the executable's folder: the scene's.
class ClientTlsTest : public ::testing::TestWithParam<int> {
protected:
    ClientScene scene;
    ExeFolder exe{scene.dir};
    RecordingHost host;
};

TEST_P(ClientTlsTest, ExchangesMessagesWithOpensslServer) {
    const int port = RefusingPort();
    ChildProcess server({"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", exe.certs.serverCert,
                           "-key", exe.certs.serverKey, "-naccept", "1", "-rev"});
    ASSERT_TRUE(server.WaitForOutput("ACCEPT", 5000)) << server.output();

    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(GetParam()), nullptr, nullptr, 0);
    ASSERT_EQ(0, scene.Start(host, port, "netheader=3\n[SSLConfig]\nUseSSL=1\nPeerCerMustBeValid=1\nPeerCerSubject=" +
                                             std::string(devkit::kTestServerSubject) + "\n"));
    ASSERT_TRUE(WaitUntil([&] { return host.connects == 1; }, std::chrono::milliseconds(10000)));
    EXPECT_TRUE(scene.WaitForTrace("SSL Connect Success."));

    const std::string line = "hello tolvane\n";
    ASSERT_EQ(static_cast<int>(line.size()), host.SendData(line.data(), static_cast<int>(line.size()), 0, nullptr, 0));
    EXPECT_EQ("enavlot olleh\n", NextMessage(host)) << server.output();
    EXPECT_EQ(1u, host.Received().size());

    // The session thread may trace its wait after the echo has arrived.
    const std::string polls = "WaitDataOrConnectEvent AsyncSelect(001)", waits = "Wait Data Event From Windows.";
    const bool polling = GetParam() != 1;
    EXPECT_TRUE(scene.WaitForTrace(polling ? polls : waits));
    EXPECT_EQ(0u, CountOf(scene.Trace(), polling ? waits : polls));
}

// A peer that accepts but never answers the handshake, and no socket
// time-out: the stop still ends the session at once.
TEST_P(ClientTlsTest, StopEndsAHandshakeThatHangs) {
    LoopbackPeer silent;
    host.ExecuteCMD(4, nullptr, static_cast<unsigned long>(GetParam()), nullptr, nullptr, 0);
    ASSERT_EQ(0, scene.Start(host, silent.port(), "[NetworkPara_client_0]\nSndRcvTimeout=0\n[SSLConfig]\nUseSSL=1\n"));
    ASSERT_TRUE(silent.Accept());
    ASSERT_TRUE(scene.WaitForTrace("SSL_connect."));
    auto start = std::chrono::steady_clock::now();
    host.StopTolvane();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(0, host.connects);
}

INSTANTIATE_TEST_SUITE_P(ReadModes, ClientTlsTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("OnEvents") : std::string("Polling");
                         });

}  // namespace
