#include "common/ConnectionOptions.h"

#include <cstdint>

#include "platform/Sockets.h"

void ApplyConnectionOptions(platform::SOCKET s, const ConnectionOptions& o) {
    if (o.SndRcvTimeout > 0) {
        uint32_t ms = static_cast<uint32_t>(o.SndRcvTimeout);
        platform::setsockopt(s, platform::kSolSocket, platform::kSoSndTimeo, &ms, sizeof ms);
        platform::setsockopt(s, platform::kSolSocket, platform::kSoRcvTimeo, &ms, sizeof ms);
    }
    platform::LINGER_WIN linger{0, 0};
    platform::setsockopt(s, platform::kSolSocket, platform::kSoLinger, &linger, sizeof linger);
    if (o.EnableKeepAlive != 1) return;
    uint32_t on = 1;
    platform::setsockopt(s, platform::kSolSocket, platform::kSoKeepAlive, &on, sizeof on);
    if (o.KeepAliveTimes >= 1 && o.KeepAliveInterval >= 1) {
        platform::TCP_KEEPALIVE_WIN values{1, static_cast<uint32_t>(o.KeepAliveTimes),
                                           static_cast<uint32_t>(o.KeepAliveInterval)};
        platform::WSAIoctl(s, platform::kSioKeepAliveVals, &values, sizeof values, nullptr, 0, nullptr);
    }
}
