#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <thread>

#include "SocketTestKit.h"
#include "platform/Sockets.h"

namespace {

using namespace sockettest;

template <typename T>
T Option(int fd, int level, int name) {
    T value{};
    socklen_t len = sizeof value;
    ::getsockopt(fd, level, name, &value, &len);
    return value;
}

TEST(SocketsTest, LastErrorBelongsToTheThread) {
    platform::WSASetLastError(0);
    std::thread other([] { EXPECT_EQ(platform::SOCKET_ERROR, platform::closesocket(INVALID_SOCKET)); });
    other.join();
    EXPECT_EQ(0, platform::WSAGetLastError());
    EXPECT_EQ(platform::SOCKET_ERROR, platform::listen(INVALID_SOCKET, 1));
    EXPECT_EQ(platform::WSAENOTSOCK, platform::WSAGetLastError());
}

TEST(SocketsTest, WindowsOptionsAreTranslated) {
    SOCKET s = platform::socket(platform::AF_INET_WIN, platform::SOCK_STREAM_WIN, 0);
    ASSERT_NE(INVALID_SOCKET, s);
    int fd = static_cast<int>(s);
    int ms = 1500;
    ASSERT_EQ(0, platform::setsockopt(s, SOL_SOCKET_WIN, SO_RCVTIMEO_WIN, &ms, sizeof ms));
    timeval tv = Option<timeval>(fd, SOL_SOCKET, SO_RCVTIMEO);
    EXPECT_EQ(1, tv.tv_sec);
    EXPECT_EQ(500000, tv.tv_usec);

    platform::LINGER_WIN off{0, 0};
    ASSERT_EQ(0, platform::setsockopt(s, SOL_SOCKET_WIN, SO_LINGER_WIN, &off, sizeof off));
    EXPECT_EQ(0, Option<linger>(fd, SOL_SOCKET, SO_LINGER).l_onoff);

    platform::TCP_KEEPALIVE_WIN keepAlive{1, 2500, 1};
    ASSERT_EQ(0, platform::WSAIoctl(s, SIO_KEEPALIVE_VALS_WIN, &keepAlive, sizeof keepAlive, nullptr, 0, nullptr));
    EXPECT_EQ(1, Option<int>(fd, SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(3, Option<int>(fd, IPPROTO_TCP, TCP_KEEPIDLE));   // seconds, rounded up
    EXPECT_EQ(1, Option<int>(fd, IPPROTO_TCP, TCP_KEEPINTVL));  // at least one second

    int one = 1;
    EXPECT_EQ(platform::SOCKET_ERROR, platform::setsockopt(s, SOL_SOCKET_WIN, 0x7777, &one, sizeof one));
    EXPECT_EQ(platform::WSAENOPROTOOPT, platform::WSAGetLastError());
    platform::closesocket(s);
}

TEST(SocketsTest, BlockingReceiveTimeOutAndSendToAGonePeer) {
    unsigned port = 0;
    Fd listener = Listener(&port);
    SOCKET s = platform::socket(platform::AF_INET_WIN, platform::SOCK_STREAM_WIN, 0);
    SOCKADDR_IN4 peerAddress{static_cast<uint16_t>(platform::AF_INET_WIN),
                             platform::HostToNetwork16(static_cast<uint16_t>(port)),
                             platform::inet_addr("127.0.0.1"), {}};
    ASSERT_EQ(0, platform::connect(s, &peerAddress, sizeof peerAddress));
    Fd peer = AcceptWithin(listener.fd);
    ASSERT_GE(peer.fd, 0);

    int ms = 20;
    platform::setsockopt(s, SOL_SOCKET_WIN, SO_RCVTIMEO_WIN, &ms, sizeof ms);
    char buffer[16];
    EXPECT_EQ(platform::SOCKET_ERROR, platform::recv(s, buffer, sizeof buffer, 0));
    EXPECT_EQ(platform::WSAETIMEDOUT, platform::WSAGetLastError());

    // Sending to a reset peer fails with an error instead of SIGPIPE ending the process.
    Reset(peer);
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) result = platform::send(s, "data", 4, 0);
    EXPECT_EQ(platform::SOCKET_ERROR, result);
    EXPECT_EQ(WSAECONNRESET, platform::WSAGetLastError());
    platform::closesocket(s);
}

}  // namespace
