#include "platform/HostWindow.h"

#include "platform/win32/Windows.h"

namespace platform {

// The host's window is a real one: the message goes to its window procedure
// (on the window's own thread when the caller is another one).
intptr_t SendMessageA(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    if (window == 0) return 0;
    return static_cast<intptr_t>(::SendMessageA(reinterpret_cast<HWND>(window), message,
                                                static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

// Only Linux, which has no windows, calls a registered procedure instead.
void SetWindowProc(WindowProc) {}

}  // namespace platform
