#include "common/ConnectionOptions.h"

#include <cstdint>

#include "platform/Sockets.h"

void ApplyConnectionOptions(SOCKET s, const ConnectionOptions& o) {
    if (o.SndRcvTimeout > 0) {
        uint32_t ms = static_cast<uint32_t>(o.SndRcvTimeout);
        platform::setsockopt(s, SOL_SOCKET_WIN, SO_SNDTIMEO_WIN, &ms, sizeof ms);
        platform::setsockopt(s, SOL_SOCKET_WIN, SO_RCVTIMEO_WIN, &ms, sizeof ms);
    }
    platform::LINGER_WIN linger{0, 0};
    platform::setsockopt(s, SOL_SOCKET_WIN, SO_LINGER_WIN, &linger, sizeof linger);
    if (o.EnableKeepAlive != 1) return;
    uint32_t on = 1;
    platform::setsockopt(s, SOL_SOCKET_WIN, SO_KEEPALIVE_WIN, &on, sizeof on);
    if (o.KeepAliveTimes >= 1 && o.KeepAliveInterval >= 1) {
        platform::TCP_KEEPALIVE_WIN values{1, static_cast<uint32_t>(o.KeepAliveTimes),
                                           static_cast<uint32_t>(o.KeepAliveInterval)};
        platform::WSAIoctl(s, SIO_KEEPALIVE_VALS_WIN, &values, sizeof values, nullptr, 0, nullptr);
    }
}
