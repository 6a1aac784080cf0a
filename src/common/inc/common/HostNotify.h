#pragma once
#include <cstdint>

#include "platform/HostWindow.h"

// Window message 9913 tells the host's window about connections: lParam 1
// connected (or peer accepted), 2 closed; wParam is always 0.
constexpr unsigned int kHostConnectionMessage = 9913;
constexpr intptr_t kHostConnected = 1;
constexpr intptr_t kHostClosed = 2;

// Sends the message synchronously; a window of 0 means nobody listens.
inline void NotifyHostWindow(uintptr_t window, intptr_t lParam) {
    platform::SendMessageA(window, kHostConnectionMessage, 0, lParam);
}
