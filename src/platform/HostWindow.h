#pragma once
#include <cstdint>

namespace platform {

using WindowProc = intptr_t (*)(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);

// Calls the registered procedure synchronously when `window` is not 0 and a
// procedure is registered; otherwise does nothing and returns 0.
intptr_t SendMessageA(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);
void SetWindowProc(WindowProc proc);

}  // namespace platform
