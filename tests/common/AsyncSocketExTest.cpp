#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include <atomic>
#include <future>

#include "SocketTestKit.h"
#include "platform/Sockets.h"
#include "ThreadCount.h"
#include "support/TestSupport.h"

namespace {

using namespace sockettest;

std::vector<int> Events(RecordingSocket& s) {
    std::vector<int> events;
    for (const Record& r : s.Records())
        if (r.event != kMarker) events.push_back(r.event);
    return events;
}

int TcpState(SOCKET s) {
    tcp_info info{};
    socklen_t len = sizeof info;
    ::getsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_INFO, &info, &len);
    return info.tcpi_state;
}

TEST(AsyncSocketExTest, WriteIsAnnouncedAfterConnectAndAfterABlockedSendOnly) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    ASSERT_TRUE(s.WaitCount(FD_WRITE, 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ((std::vector<int>{FD_CONNECT, FD_WRITE}), Events(s));
    EXPECT_EQ(0, s.LastErrorOf(FD_CONNECT));

    std::vector<char> chunk(65536, 'x');
    size_t sent = 0;
    for (int i = 0; i < 10000; ++i) {
        int n = s.Send(chunk.data(), static_cast<int>(chunk.size()), 0);
        if (n < 0) break;
        sent += static_cast<size_t>(n);
    }
    ASSERT_EQ(WSAEWOULDBLOCK, s.GetSocketError());
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(1u, s.Count(FD_WRITE));

    size_t drained = 0;
    while (drained < sent && s.Count(FD_WRITE) < 2) {
        pollfd p{peer.fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) break;
        ssize_t n = ::recv(peer.fd, chunk.data(), chunk.size(), 0);
        if (n <= 0) break;
        drained += static_cast<size_t>(n);
    }
    ASSERT_TRUE(s.WaitCount(FD_WRITE, 2));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(2u, s.Count(FD_WRITE));
}

TEST(AsyncSocketExTest, ConnectEventCarriesTheRefusal) {
    unsigned port = 0;
    Listener(&port);  // closed at once: nobody listens on the port
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    EXPECT_EQ(0, s.Connect("127.0.0.1", port));
    EXPECT_EQ(WSAEWOULDBLOCK, s.GetSocketError());
    ASSERT_TRUE(s.WaitCount(FD_CONNECT, 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(std::vector<int>{FD_CONNECT}, Events(s));
    EXPECT_EQ(10061, s.LastErrorOf(FD_CONNECT));
}

TEST(AsyncSocketExTest, CloseComesOnceAfterTheDataWithZeroForAnOrderlyClose) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    SendText(peer.fd, "abc");
    peer.Reset();
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ("abc", s.Received());
    std::vector<int> events = Events(s);
    EXPECT_EQ(FD_CLOSE, events.back());
    EXPECT_EQ(1u, s.Count(FD_CLOSE));
    EXPECT_GE(s.Count(FD_READ), 1u);
    EXPECT_EQ(0, s.LastErrorOf(FD_CLOSE));
}

TEST(AsyncSocketExTest, CloseReportsAReset) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    Reset(peer);
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(1u, s.Count(FD_CLOSE));
    EXPECT_EQ(WSAECONNRESET, s.LastErrorOf(FD_CLOSE));
}

TEST(AsyncSocketExTest, CloseWaitsUntilUnreadDataAreRead) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    ASSERT_TRUE(s.AsyncSelect(FD_CLOSE));  // data are read by the owner, not on read events
    SendText(peer.fd, "xyz");
    peer.Reset();
    int fd = static_cast<int>(s.GetSocketHandle());
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        pollfd p{fd, POLLRDHUP, 0};
        return ::poll(&p, 1, 0) == 1;
    }));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(0u, s.Count(FD_CLOSE));
    char buffer[8];
    EXPECT_EQ(3, s.Receive(buffer, sizeof buffer, 0));
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 1));
    EXPECT_EQ(0, s.LastErrorOf(FD_CLOSE));
}

TEST(AsyncSocketExTest, ReadNotificationIsDroppedOnlyWhenNothingWaitsAndNoErrorCame) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    CSocketExWnd& w = s.Window();
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY, s.GetSocketHandle(), EventWord(FD_READ, 0)));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(0u, s.Count(FD_READ));
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY, s.GetSocketHandle(), EventWord(FD_READ, WSAECONNRESET)));
    ASSERT_TRUE(s.WaitCount(FD_READ, 1));
    EXPECT_EQ(WSAECONNRESET, s.LastErrorOf(FD_READ));

    // A listening socket cannot tell its byte count: the platform's error is passed on.
    RecordingSocket listening;
    ASSERT_TRUE(listening.Create());
    ASSERT_TRUE(listening.Listen(1));
    ASSERT_TRUE(listening.Window().PostMessage(WM_SOCKETEX_NOTIFY, listening.GetSocketHandle(), EventWord(FD_READ, 0)));
    ASSERT_TRUE(listening.WaitCount(FD_READ, 1));
    EXPECT_EQ(WSAEINVAL, listening.LastErrorOf(FD_READ));
}

TEST(AsyncSocketExTest, AcceptIsAnnouncedForEveryWaitingConnection) {
    RecordingSocket s;
    ASSERT_TRUE(s.Create(0, "127.0.0.1", 1, 0x39));
    ASSERT_TRUE(s.Listen(5));
    char address[16];
    unsigned port = 0;
    ASSERT_TRUE(s.GetSockName(address, &port));
    EXPECT_STREQ("127.0.0.1", address);
    Fd a = ConnectTo(port), b = ConnectTo(port);
    ASSERT_TRUE(s.WaitCount(FD_ACCEPT, 2));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(std::vector<int>({FD_ACCEPT, FD_ACCEPT}), Events(s));
    ASSERT_EQ(2u, s.Accepted().size());
    // Accepted from a socket with events selected, the new one is non-blocking.
    EXPECT_TRUE(platform::IsNonBlocking(s.Accepted()[0]));
}

TEST(AsyncSocketExTest, CreateBindAndConnectReportTheLayersOwnErrors) {
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    SOCKET first = s.GetSocketHandle();
    EXPECT_EQ(0, s.Create());
    EXPECT_EQ(WSAEALREADY, s.GetSocketError());
    EXPECT_EQ(first, s.GetSocketHandle());

    EXPECT_EQ(0, s.Bind(0, "255.255.255.255"));
    EXPECT_EQ(WSAEINVAL, s.GetSocketError());
    EXPECT_EQ(0, s.Connect("bad host name!", 80));
    EXPECT_EQ(WSAEINVAL, s.GetSocketError());
    EXPECT_EQ(0, s.Connect("", 80));
    EXPECT_EQ(WSAEINVAL, s.GetSocketError());
    platform::WSASetLastError(12345);
    EXPECT_EQ(0, s.Connect(static_cast<const char*>(nullptr), 80));
    EXPECT_EQ(12345, s.GetSocketError());

    RecordingSocket broadcast;
    EXPECT_EQ(0, broadcast.Create(0, "255.255.255.255"));
    EXPECT_EQ(WSAEINVAL, broadcast.GetSocketError());
    EXPECT_EQ(INVALID_SOCKET, broadcast.GetSocketHandle());
}

TEST(AsyncSocketExTest, ALingeringPortCanBeBoundAgainButNotAListeningOne) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    char address[16];
    unsigned local = 0;
    ASSERT_TRUE(s.GetSockName(address, &local));
    s.Close();  // this side closes first, so its port lingers after the connection
    peer.Reset();
    ASSERT_TRUE(s.Create(local));
    ASSERT_TRUE(s.Listen(1));
    RecordingSocket rival;
    EXPECT_EQ(0, rival.Create(local));
    EXPECT_EQ(10048, rival.GetSocketError());
}

TEST(AsyncSocketExTest, BlockingConnectBetweenSetBlockingAndCancelBlock) {
    unsigned port = 0;
    Fd listener = Listener(&port);
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.SetBlocking());
    EXPECT_FALSE(platform::IsNonBlocking(s.GetSocketHandle()));
    EXPECT_EQ(0, s.Mask());
    ASSERT_TRUE(s.Connect("127.0.0.1", port));
    EXPECT_FALSE(platform::IsNonBlocking(s.GetSocketHandle()));
    ASSERT_TRUE(s.CancelBlock());
    EXPECT_TRUE(platform::IsNonBlocking(s.GetSocketHandle()));
    EXPECT_EQ(FD_ALL_EVENTS, s.Mask());
    // All events are selected again: the connected socket is announced writable once.
    ASSERT_TRUE(s.WaitCount(FD_WRITE, 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(std::vector<int>{FD_WRITE}, Events(s));
    // Blocking mode is refused while events are selected.
    uint32_t blocking = 0;
    EXPECT_EQ(0, s.IOCtl(FIONBIO_WIN, &blocking));
    EXPECT_EQ(WSAEINVAL, s.GetSocketError());
}

TEST(AsyncSocketExTest, AbortEndsAHangingBlockingConnect) {
    unsigned port = 0;
    Fd listener = Listener(&port, 0);
    Fd queued = ConnectTo(port);  // fills the backlog: further handshakes are not answered
    ASSERT_GE(queued.fd, 0);
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.SetBlocking());
    auto attempt = [&] {
        int result = s.Connect("127.0.0.1", port);
        return std::make_pair(result, s.GetSocketError());
    };
    auto hanging = std::async(std::launch::async, attempt);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return TcpState(s.GetSocketHandle()) == TCP_SYN_SENT; }));
    s.AbortBlockingCall();
    ASSERT_EQ(std::future_status::ready, hanging.wait_for(kLimit));
    EXPECT_EQ(std::make_pair(0, 10004), hanging.get());
    EXPECT_FALSE(platform::IsNonBlocking(s.GetSocketHandle()));
    EXPECT_EQ(std::make_pair(0, 10004), attempt());  // stays aborted

    s.Close();
    Fd free = Listener(&port);
    ASSERT_TRUE(s.Create());  // a new socket starts without the abort
    ASSERT_TRUE(s.SetBlocking());
    EXPECT_EQ(1, s.Connect("127.0.0.1", port));
}

TEST(AsyncSocketExTest, DestroyingASocketWhileThePeerSendsLeavesNothingBehind) {
    int threads = SettledThreadCount();
    int descriptors = testsupport::CountOpenDescriptors();
    {
        Fd peer;
        std::atomic<bool> stop{false};
        std::thread sender;
        {
            RecordingSocket s;
            peer = ConnectedPeer(s);
            ASSERT_GE(peer.fd, 0);
            sender = std::thread([&] {
                std::string chunk(4096, 'y');
                while (!stop) {
                    if (::send(peer.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) continue;
                    if (errno != EAGAIN) break;  // the socket went away
                    pollfd p{peer.fd, POLLOUT, 0};
                    ::poll(&p, 1, 100);
                }
            });
            EXPECT_TRUE(s.WaitCount(FD_READ, 3));
        }
        stop = true;
        sender.join();
    }
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
    EXPECT_EQ(descriptors, testsupport::CountOpenDescriptors());
}

}  // namespace
