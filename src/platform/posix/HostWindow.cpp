#include "platform/HostWindow.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<WindowProc> g_proc{nullptr};
}

intptr_t SendMessageA(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    WindowProc proc = g_proc.load();
    if (window == 0 || !proc) return 0;
    return proc(window, message, wParam, lParam);
}

void SetWindowProc(WindowProc proc) { g_proc.store(proc); }

}  // namespace platform
