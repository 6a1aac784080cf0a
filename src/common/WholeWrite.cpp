#include "common/WholeWrite.h"

#include <chrono>

#include "common/AsyncSocketEx.h"
#include "platform/SocketWait.h"

namespace {
constexpr int kSendWaitSliceMs = 50;
}

int WriteWhole(CAsyncSocketEx& socket, const unsigned char* data, int len, uint32_t stallMs,
               const std::function<bool()>& stopped) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
    int done = 0;
    while (done < len) {
        int sent = socket.CAsyncSocketEx::Send(data + done, len - done, 0);
        if (sent > 0) {
            done += sent;
            continue;
        }
        if (sent < 0 && CAsyncSocketEx::GetSocketError() == platform::kWsaeWouldBlock && !(stopped && stopped()) &&
            std::chrono::steady_clock::now() < deadline) {
            platform::WaitForWritable(socket.GetSocketHandle(), kSendWaitSliceMs);
            continue;
        }
        return done > 0 ? done : sent;
    }
    return done;
}
