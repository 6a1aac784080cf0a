#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "SocketTestKit.h"

namespace {

TEST(SocketsTest, ErrnoMapsToWindowsNumbersPerThreadAndBlockingCallsTimeOutOrFailWithoutSignal) {
    EXPECT_EQ(10054, platform::MapErrno(EPIPE));
    EXPECT_EQ(10048, platform::MapErrno(EADDRINUSE));
    EXPECT_EQ(ENOENT, platform::MapErrno(ENOENT));  // no Windows counterpart: passed through
    platform::WSASetLastError(0);
    std::thread([] { EXPECT_EQ(platform::SOCKET_ERROR, platform::closesocket(INVALID_SOCKET)); }).join();
    EXPECT_EQ(0, platform::WSAGetLastError());
    EXPECT_EQ(platform::SOCKET_ERROR, platform::listen(INVALID_SOCKET, 1));
    EXPECT_EQ(platform::WSAENOTSOCK, platform::WSAGetLastError());

    testsupport::LoopbackPeer peer;
    SOCKET s = platform::socket(platform::AF_INET_WIN, platform::SOCK_STREAM_WIN, 0);
    SOCKADDR_IN4 address{platform::AF_INET_WIN, platform::HostToNetwork16(static_cast<uint16_t>(peer.port())),
                         platform::inet_addr("127.0.0.1"), {}};
    ASSERT_TRUE(platform::connect(s, &address, sizeof address) == 0 && peer.Accept());
    int ms = 20;
    ASSERT_EQ(0, platform::setsockopt(s, SOL_SOCKET_WIN, SO_RCVTIMEO_WIN, &ms, sizeof ms));
    char buffer[16];
    EXPECT_EQ(platform::SOCKET_ERROR, platform::recv(s, buffer, sizeof buffer, 0));
    EXPECT_EQ(platform::WSAETIMEDOUT, platform::WSAGetLastError());
    // Sending on after a reset (EPIPE once the reset was reported) fails instead of raising SIGPIPE.
    peer.Reset();
    int result = 0;
    for (int i = 0; i < 100; ++i) result = platform::send(s, "data", 4, 0);
    EXPECT_EQ(platform::SOCKET_ERROR, result);
    EXPECT_EQ(WSAECONNRESET, platform::WSAGetLastError());
    platform::closesocket(s);
}

}  // namespace
