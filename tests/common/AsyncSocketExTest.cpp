#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <future>
#include <memory>

#include "SocketTestKit.h"

namespace {

using namespace sockettest;
using testsupport::LoopbackPeer;
using Ints = std::vector<int>;

TEST(AsyncSocketExTest, ConnectWriteReadAndCloseEventsFollowTheRulesOverThreeConnections) {
    RecordingSocket s;
    ASSERT_TRUE(s.Create() && !s.Connect("127.0.0.1", testsupport::RefusingPort()));
    EXPECT_EQ(WSAEWOULDBLOCK, s.GetSocketError());
    ASSERT_TRUE(s.WaitCount(FD_CONNECT, 1) && s.Sync());
    EXPECT_EQ(Ints{FD_CONNECT}, s.Events());
    EXPECT_EQ(Ints{10061}, s.Errors(FD_CONNECT));

    // Write comes once after the connect, then only after a send that would have blocked.
    s.Close();
    LoopbackPeer peer;
    ASSERT_TRUE(ConnectTo(s, peer) && s.WaitCount(FD_WRITE, 1) && s.Sync());
    EXPECT_EQ((Ints{FD_CONNECT, FD_CONNECT, FD_WRITE}), s.Events());
    EXPECT_EQ((Ints{10061, 0}), s.Errors(FD_CONNECT));
    std::vector<char> chunk(65536, 'x');
    size_t sent = 0;
    for (int i = 0, n = 0; i < 10000 && (n = s.Send(chunk.data(), 65536, 0)) > 0; ++i) sent += n;
    ASSERT_EQ(WSAEWOULDBLOCK, s.GetSocketError());
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(1u, s.Errors(FD_WRITE).size());
    EXPECT_EQ(sent, peer.Receive(sent).size());
    ASSERT_TRUE(s.WaitCount(FD_WRITE, 2));

    // The empty mask holds every event back; close then waits until the data were read.
    ASSERT_TRUE(s.AsyncSelect(0) && peer.Send("abc"));
    peer.Close();
    pollfd p{static_cast<int>(s.GetSocketHandle()), POLLRDHUP, 0};
    ASSERT_TRUE(testsupport::WaitUntil([&] { return ::poll(&p, 1, 0) == 1; }));
    ASSERT_TRUE(s.Sync() && s.AsyncSelect(FD_CLOSE) && s.Sync());
    EXPECT_EQ((Ints{FD_CONNECT, FD_CONNECT, FD_WRITE, FD_WRITE}), s.Events());
    char buffer[8];
    EXPECT_EQ(3, s.Receive(buffer, sizeof buffer, 0));
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 1) && s.Sync());
    EXPECT_EQ(Ints{0}, s.Errors(FD_CLOSE));

    // A read notification with nothing waiting reaches the handler only with an error.
    s.Close();
    ASSERT_TRUE(ConnectTo(s, peer));
    ASSERT_TRUE(s.Post(s.GetSocketHandle(), FD_READ, 0) && s.Post(s.GetSocketHandle(), FD_READ, WSAECONNABORTED));
    ASSERT_TRUE(s.WaitCount(FD_READ, 1) && s.Sync());
    EXPECT_EQ(Ints{WSAECONNABORTED}, s.Errors(FD_READ));
    peer.Reset();
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 2) && s.Sync());
    EXPECT_EQ((Ints{0, WSAECONNRESET}), s.Errors(FD_CLOSE));
}

TEST(AsyncSocketExTest, ListenerAcceptsEveryWaitingConnection) {
    RecordingSocket listener, a, b;
    char address[16];
    unsigned port = 0;
    ASSERT_TRUE(listener.Create(0, "127.0.0.1", 1, 0x39) && listener.Listen(5) &&
                listener.GetSockName(address, &port) && a.Create() && b.Create());
    a.Connect("127.0.0.1", port);
    b.Connect("127.0.0.1", port);
    ASSERT_TRUE(listener.WaitCount(FD_ACCEPT, 2) && listener.Sync());
    EXPECT_EQ((Ints{FD_ACCEPT, FD_ACCEPT}), listener.Events());
}

TEST(AsyncSocketExTest, CreateBindAndConnectReportTheLayersOwnErrors) {
    auto failure = [](int result) { return result ? 0 : CAsyncSocketEx::GetSocketError(); };
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    SOCKET first = s.GetSocketHandle();
    EXPECT_EQ(WSAEALREADY, failure(s.Create()));
    EXPECT_EQ(first, s.GetSocketHandle());
    EXPECT_EQ(WSAEINVAL, failure(s.Bind(0, "255.255.255.255")));
    EXPECT_EQ(WSAEINVAL, failure(s.Connect("bad host name!", 80)));
    platform::WSASetLastError(12345);
    EXPECT_EQ(12345, failure(s.Connect(static_cast<const char*>(nullptr), 80)));
    s.Close();  // a bind failing inside Create leaves no socket behind
    EXPECT_EQ(WSAEINVAL, failure(s.Create(0, "255.255.255.255")));
    EXPECT_EQ(INVALID_SOCKET, s.GetSocketHandle());
}

TEST(AsyncSocketExTest, BlockingConnectCanBeAbortedAndCancelBlockSelectsAllEventsAgain) {
    RecordingSocket s;
    std::future<std::pair<int, int>> hanging;  // outlives the listener, whose end refuses a hanging connect
    testsupport::FullBacklogListener full;
    ASSERT_TRUE(s.Create() && s.SetBlocking());
    auto attempt = [&] {
        int result = s.Connect("127.0.0.1", full.port());
        return std::make_pair(result, s.GetSocketError());
    };
    hanging = std::async(std::launch::async, attempt);
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        tcp_info info{};
        socklen_t length = sizeof info;
        ::getsockopt(static_cast<int>(s.GetSocketHandle()), IPPROTO_TCP, TCP_INFO, &info, &length);
        return info.tcpi_state == TCP_SYN_SENT;
    }));
    s.AbortBlockingCall();
    ASSERT_EQ(std::future_status::ready, hanging.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(std::make_pair(0, 10004), hanging.get());
    EXPECT_EQ(std::make_pair(0, 10004), attempt());  // stays aborted

    s.Close();
    LoopbackPeer peer;
    ASSERT_TRUE(s.Create() && s.SetBlocking());  // a new socket starts without the abort
    EXPECT_EQ(1, s.Connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(s.CancelBlock());
    EXPECT_TRUE(platform::IsNonBlocking(s.GetSocketHandle()));
    EXPECT_EQ(FD_ALL_EVENTS, s.Mask());
    ASSERT_TRUE(s.WaitCount(FD_WRITE, 1) && s.Sync());
    EXPECT_EQ(Ints{FD_WRITE}, s.Events());
}

TEST(AsyncSocketExTest, DestroyingASocketWhileThePeerSendsLeavesNoThreadOrDescriptor) {
    int threads = SettledThreadCount();
    int descriptors = testsupport::CountOpenDescriptors();
    SOCKET listener = platform::socket(platform::AF_INET_WIN, platform::SOCK_STREAM_WIN, 0);
    SOCKADDR_IN4 address{platform::AF_INET_WIN, 0, platform::inet_addr("127.0.0.1"), {}};
    int length = sizeof address;
    ASSERT_TRUE(platform::bind(listener, &address, length) == 0 && platform::listen(listener, 1) == 0 &&
                platform::getsockname(listener, &address, &length) == 0);
    auto s = std::make_unique<RecordingSocket>();
    ASSERT_TRUE(s->Create());
    s->Connect("127.0.0.1", platform::NetworkToHost16(address.sin_port));
    ASSERT_TRUE(s->WaitCount(FD_CONNECT, 1) && s->Errors(FD_CONNECT) == Ints{0});  // so the accept does not wait
    SOCKET peer = platform::accept(listener, nullptr, nullptr);
    int limitMs = 100;  // for each blocked send
    platform::setsockopt(peer, SOL_SOCKET_WIN, SO_SNDTIMEO_WIN, &limitMs, sizeof limitMs);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        std::string chunk(4096, 'y');
        while (!stop && (platform::send(peer, chunk.data(), 4096, 0) > 0 ||
                         platform::WSAGetLastError() == platform::WSAETIMEDOUT)) {
        }
    });
    EXPECT_TRUE(s->WaitCount(FD_READ, 3));
    s.reset();
    stop = true;
    sender.join();
    platform::closesocket(peer);
    platform::closesocket(listener);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
    EXPECT_EQ(descriptors, testsupport::CountOpenDescriptors());
}

}  // namespace
