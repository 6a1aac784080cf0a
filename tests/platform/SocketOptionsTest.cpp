#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/Sockets.h"

namespace {

int IntOption(platform::SOCKET s, int level, int name) {
    int value = -1;
    socklen_t len = sizeof value;
    getsockopt(static_cast<int>(s), level, name, &value, &len);
    return value;
}

// Windows option numbers and millisecond values become their Linux forms.
TEST(SocketOptionsTest, WindowsOptionsAreTranslated) {
    platform::SOCKET s = platform::socket(2, 1, 0);
    ASSERT_NE(platform::kInvalidSocket, s);
    uint32_t ms = 1500;
    ASSERT_EQ(0, platform::setsockopt(s, platform::kSolSocket, platform::kSoRcvTimeo, &ms, sizeof ms));
    timeval tv{};
    socklen_t len = sizeof tv;
    getsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    EXPECT_EQ(1, tv.tv_sec);
    EXPECT_EQ(500000, tv.tv_usec);

    platform::TCP_KEEPALIVE_WIN values{1, 20000, 1500};
    ASSERT_EQ(0, platform::WSAIoctl(s, platform::kSioKeepAliveVals, &values, sizeof values, nullptr, 0, nullptr));
    EXPECT_EQ(1, IntOption(s, SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(20, IntOption(s, IPPROTO_TCP, TCP_KEEPIDLE));
    EXPECT_EQ(2, IntOption(s, IPPROTO_TCP, TCP_KEEPINTVL));  // rounded up to whole seconds

    int unknown = 1;
    EXPECT_NE(0, platform::setsockopt(s, platform::kSolSocket, 0x7777, &unknown, sizeof unknown));
    EXPECT_EQ(10042, platform::WSAGetLastError());
    platform::closesocket(s);
}

}  // namespace
