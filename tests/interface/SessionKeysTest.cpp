// The opt-in session keys, on each side of the library: with the key 0 the
// hazard shows as designed, with the key 1 it is gone.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "support/Harness.h"
#include "tls/OSSL.h"
#include "websocket/WebSocketTestKit.h"

using namespace testsupport;

namespace {

struct SideParam {
    bool server;
    bool tls;
    bool websocket = false;  // server only: the peer speaks WebSocket
};

// A host started as client or server, with the test's raw peer, plain or over TLS.
class Side {
public:
    explicit Side(SideParam p) : m_server(p.server), m_tls(p.tls) {}

    // Starts the host with `keys` in its session section; `timing` holds the
    // time keys, which the client reads from "NetworkPara_client_0".
    bool Start(const std::string& keys, const std::string& timing = std::string()) {
        const std::string tls = m_tls ? "[SSLConfig]\nUseSSL=1\n" : "";
        const int started = m_server ? scene.StartServer(host, keys + "\n" + timing, tls)
                                     : scene.Start(host, listener.port(),
                                                   keys + "\n[NetworkPara_client_0]\n" + timing + "\n" + tls);
        return started == 0 && Connect(0);
    }
    bool Restart() {
        const int before = host.connects;
        return host.StartTolvane(m_server ? 1 : 0, 0) == 0 && Connect(before);
    }
    // Ends the peer's connection and makes a new one.
    bool Reconnect() { return Connect(host.connects); }
    // A new connection of the peer; true once the host has heard of more than `before` connections.
    bool Connect(int before) {
        m_tlsEnd.reset();
        Connection().Close();
        if (!(m_server ? raw.Connect(scene.port) : listener.Accept())) return false;
        if (m_tls) {  // the library's own TLS object, with the certificates of the executable's folder
            Connection().MakeBlocking();
            m_tlsEnd = std::make_unique<OSSL>();
            const std::string ini = scene.dir.file("peer.ini");
            WriteTextFile(ini, "[SSLConfig]\nUseSSL=1\n");
            const auto fd = static_cast<platform::SOCKET>(Connection().fd());
            if ((m_server ? m_tlsEnd->iSSLConnect(fd, ini.c_str()) : m_tlsEnd->iSSLAccept(fd, ini.c_str())) != 1)
                return false;
        }
        return WaitUntil([&] { return host.connects > before; }, std::chrono::milliseconds(10000));
    }
    bool Send(const std::string& bytes) {
        const int size = static_cast<int>(bytes.size());
        return m_tlsEnd ? m_tlsEnd->iSSLSend(bytes.data(), size) == size : Connection().Send(bytes);
    }
    // The WebSocket peer's opening handshake; true once the server has answered it.
    bool Open() { return Send(wstest::kSampleRequest) && scene.WaitForTrace("Sec-WebSocket-Accept: "); }
    TcpConnection& Connection() { return m_server ? raw : static_cast<TcpConnection&>(listener); }
    std::string Next(unsigned long timeoutMs = 5000) { return NextMessage(host, timeoutMs); }

    ServerScene scene;  // the client uses its configuration and trace folder only
    ExeFolder exe{scene.dir};
    RecordingHost host;
    LoopbackPeer listener;  // the client's peer
    TcpConnection raw;      // the server's peer

private:
    bool m_server, m_tls;
    std::unique_ptr<OSSL> m_tlsEnd;
};

std::string SideName(const ::testing::TestParamInfo<SideParam>& info) {
    return std::string(info.param.server ? "Server" : "Client") + (info.param.tls ? "Tls" : "Plain") +
           (info.param.websocket ? "WebSocket" : "");
}

class KeysPlain : public ::testing::TestWithParam<SideParam> {};
class KeysPlainAndTls : public ::testing::TestWithParam<SideParam> {};
class KeysSend : public ::testing::TestWithParam<SideParam> {};

TEST_P(KeysPlainAndTls, CleanFramingStartsEachConnectionAfreshAndSkipsEmptyFrames) {
    const bool server = GetParam().server;
    for (int key : {0, 1}) {
        SCOPED_TRACE("CleanFraming=" + std::to_string(key));
        FakeTick tick(100000);
        Side side(GetParam());
        ASSERT_TRUE(side.Start("netheader=5\nCleanFraming=" + std::to_string(key), "RecvDataDelayTimeOut=1000"));
        // An empty frame ends the read as designed; with the key it is passed over.
        ASSERT_TRUE(side.Send(Frame(5, "") + Frame(5, "hi")));
        ASSERT_TRUE(WaitUntil([&] { return side.host.Received().size() == 1; }));
        ASSERT_TRUE(side.Send(Frame(5, "you")));
        ASSERT_TRUE(WaitUntil([&] { return side.host.Received().size() == 2; }));
        EXPECT_EQ((std::vector<std::string>{key ? "hi" : "", "you"}), side.host.Received());

        // Half a frame, then the connection is lost.
        ASSERT_TRUE(side.Send(Frame(5, "hello").substr(0, 6)));
        ASSERT_TRUE(side.scene.WaitForTrace("Network Status Is Not Good. StartTick(100000)"));
        ASSERT_TRUE(side.Reconnect());
        if (!server) {
            // The client's half frame takes the first bytes of the next connection.
            ASSERT_TRUE(side.Send(Frame(5, "hi")));
            ASSERT_TRUE(WaitUntil([&] { return side.host.Received().size() == 3; }));
            EXPECT_EQ(key ? std::string("hi") : std::string("he\0\0\0", 5), side.host.Received()[2]);
        } else {
            // The server forgets the half frame but keeps its start tick, which
            // expires the next peer's first message.
            FakeTick::now += 5000;
            ASSERT_TRUE(side.Send(Frame(5, "hi").substr(0, 5)));
            ASSERT_TRUE(side.scene.WaitForTrace("recvLen(5)]"));
            ASSERT_TRUE(side.Send("i"));
            if (key) {
                ASSERT_TRUE(WaitUntil([&] { return side.host.Received().size() == 3; }));
                EXPECT_EQ("hi", side.host.Received()[2]);
            } else {
                EXPECT_TRUE(side.scene.WaitForTrace("Network Status Bad. Discard Previous Message!"));
            }
        }
        EXPECT_EQ(static_cast<size_t>(key),
                  CountOf(side.scene.Trace(), ":New Connection. Discard Previous Message! PendingLen(6)\r\n"));
    }
}

TEST_P(KeysSend, CloseOnPartialSendEndsAConnectionLeftWithHalfAFrame) {
    const bool websocket = GetParam().websocket;
    // A WebSocket text frame carries less than 32768 bytes; both headers take 4 bytes.
    const std::string body(websocket ? 30000 : 100000, 'x');
    const int framed = static_cast<int>(body.size()) + 4;
    for (int key : {0, 1}) {
        SCOPED_TRACE("CloseOnPartialSend=" + std::to_string(key));
        Side side(GetParam());
        ASSERT_TRUE(side.Start(std::string(websocket ? "IsWebsocket=1" : "netheader=5") +
                                   "\nCloseOnPartialSend=" + std::to_string(key),
                               "SndRcvTimeout=300"));
        if (websocket) {
            ASSERT_TRUE(side.Open());
        }
        // The peer reads nothing: the socket buffers fill up.
        int result = framed;
        for (int i = 0; i < 2000 && result == framed; ++i)
            result = side.host.SendData(body.data(), static_cast<int>(body.size()), 0, nullptr, 0);
        ASSERT_NE(framed, result);
        if (key == 0) {  // as designed: the connection stays, with its stream cut mid-frame
            EXPECT_EQ(0, side.host.GetNetworkStatus());
            EXPECT_TRUE(side.host.CloseErrors().empty());
            continue;
        }
        EXPECT_EQ(-1, result);
        EXPECT_TRUE(side.scene.WaitForTrace(" of " + std::to_string(framed) + " Bytes). Connection Closed.\r\n"));
        if (GetParam().server) {
            EXPECT_TRUE(WaitUntil([&] { return side.host.GetNetworkStatus() == 1; }));
            EXPECT_TRUE(side.Connection().WaitClosed());
        } else {  // lost as any connection: the host hears of it and the client connects again
            EXPECT_TRUE(WaitUntil([&] { return side.host.CloseErrors().size() == 1; }));
            EXPECT_TRUE(side.listener.Accept());
            EXPECT_TRUE(WaitUntil([&] { return side.host.connects == 2; }, std::chrono::milliseconds(10000)));
        }
    }
}

TEST_P(KeysPlain, StopWakesRecvDataEndsWaitingReceives) {
    for (int key : {0, 1}) {
        SCOPED_TRACE("StopWakesRecvData=" + std::to_string(key));
        Side side(GetParam());
        ASSERT_TRUE(side.Start("netheader=5\nStopWakesRecvData=" + std::to_string(key)));
        std::atomic<bool> calling{false};
        auto waiter = std::async(std::launch::async, [&] {
            calling = true;
            return side.Next(20000);
        });
        ASSERT_TRUE(WaitUntil([&] { return calling.load(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its wait: nothing shows it
        side.host.StopTolvane();
        if (key) {
            ASSERT_EQ(std::future_status::ready, waiter.wait_for(std::chrono::seconds(5)));
            EXPECT_EQ("<none>", waiter.get());
        }
        // After a restart a receive waits as before; without the key the first one is still waiting.
        ASSERT_TRUE(side.Restart());
        ASSERT_TRUE(side.Send(Frame(5, "late")));
        EXPECT_EQ("late", key ? side.Next() : waiter.get());
    }
}

TEST_P(KeysPlain, RecvQueueLimitBoundsTheQueueAndCountsWhatItDropped) {
    for (int key : {0, 1}) {
        SCOPED_TRACE("RecvQueueLimit=" + std::to_string(key ? 10 : 0));
        Side side(GetParam());
        // A message is queued after its notification, before the next one: the
        // host takes one message when "ffff" arrives, before it is queued.
        std::string taken;
        side.host.onReceive = [&] {
            if (side.host.Received().size() == 5) taken = side.Next(0);
        };
        ASSERT_TRUE(side.Start(std::string("netheader=5\nRecvQueueLimit=") + (key ? "10" : "0")));
        for (const char* body : {"aaaa", "bbbb", "cccc", "dddd", "eeee", "ffff"}) {
            const size_t before = side.host.Received().size();
            ASSERT_TRUE(side.Send(Frame(5, body)));
            ASSERT_TRUE(WaitUntil([&] { return side.host.Received().size() == before + 1; }));
        }
        EXPECT_EQ("aaaa", taken);
        const std::vector<std::string> kept = key ? std::vector<std::string>{"bbbb", "ffff"}
                                                  : std::vector<std::string>{"bbbb", "cccc", "dddd", "eeee", "ffff"};
        for (const std::string& body : kept) EXPECT_EQ(body, side.Next());
        EXPECT_EQ("<none>", side.Next(0));
        const std::string trace = side.scene.Trace();
        EXPECT_EQ(static_cast<size_t>(key),
                  CountOf(trace, ":Receive Queue Full(RecvQueueLimit=10). Message(Len=4) Not Queued.\r\n"));
        EXPECT_EQ(static_cast<size_t>(key), CountOf(trace, ":Receive Queue Has Room Again. 3 Message(s) Not Queued.\r\n"));
    }
}

// A peer's message that holds a line break and a time stamp, echoed by the
// host: the read trace, the RECEIVE and the TRANSMIT record show it.
TEST_P(KeysPlain, TraceEscapesKeepsEachRecordOnOneLine) {
    const std::string forged = "\r\n2026-12-06 07:00:00.000 :forged";
    const std::string body = "pay" + forged + "\\\x01\x7F\tend";
    const std::string escaped = "pay\\x0D\\x0A2026-12-06 07:00:00.000 :forged\\\\\\x01\\x7F\tend";
    for (int key : {0, 1}) {
        SCOPED_TRACE("TraceEscapes=" + std::to_string(key));
        Side side(GetParam());
        side.host.echo = true;
        ASSERT_TRUE(side.Start("netheader=3\nMaskLog=0\nTraceEscapes=" + std::to_string(key)));
        ASSERT_TRUE(side.Send(body));
        EXPECT_EQ(body, side.Connection().Receive(body.size()));
        // The read trace shows the bytes from the third on.
        EXPECT_TRUE(side.scene.WaitForTrace(key ? escaped.substr(2) : forged, 3));
        EXPECT_EQ(key ? 0u : 3u, CountOf(side.scene.Trace(), forged));
        if (key) {
            EXPECT_TRUE(side.scene.WaitForTrace("RECEIVE:" + escaped + "\r\n"));
        }
    }
}

// The WebSocket layer's read trace and handshake error trace show a peer's
// bytes: here an opening request that is none, which then also reaches the
// host as a plain message.
TEST(KeysWebSocket, TraceEscapesCoversTheReadAndHandshakeTraces) {
    const std::string forged = "\r\n2026-12-06 07:00:00.000 :forged";
    for (int key : {0, 1}) {
        SCOPED_TRACE("TraceEscapes=" + std::to_string(key));
        Side side({true, false, true});
        ASSERT_TRUE(side.Start("IsWebsocket=1\nTraceEscapes=" + std::to_string(key)));
        ASSERT_TRUE(side.Send("HEAD / HTTP/1.1" + forged + "\r\n\r\n"));
        EXPECT_TRUE(side.scene.WaitForTrace(key ? "\\x0D\\x0A2026-12-06 07:00:00.000 :forged" : forged, 3));
        EXPECT_EQ(key ? 0u : 3u, CountOf(side.scene.Trace(), forged));
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, KeysPlain, ::testing::Values(SideParam{false, false}, SideParam{true, false}),
                         SideName);
INSTANTIATE_TEST_SUITE_P(Sides, KeysPlainAndTls,
                         ::testing::Values(SideParam{false, false}, SideParam{false, true}, SideParam{true, false},
                                           SideParam{true, true}),
                         SideName);
INSTANTIATE_TEST_SUITE_P(Sides, KeysSend,
                         ::testing::Values(SideParam{false, false}, SideParam{false, true}, SideParam{true, false},
                                           SideParam{true, true}, SideParam{true, false, true},
                                           SideParam{true, true, true}),
                         SideName);

}  // namespace
