#include "platform/Console.h"

#include "platform/win32/Windows.h"

namespace platform {

void AllocConsole() { ::AllocConsole(); }

void SetConsoleTitleA(const char* title) {
    if (title) ::SetConsoleTitleA(title);
}

void WriteConsoleStdout(const char* data, size_t len) {
    if (!data || len == 0) return;
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    const DWORD n = len > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(len);
    // WriteConsoleA serves a console only; redirected output is a file or pipe.
    if (!::WriteConsoleA(out, data, n, &written, nullptr)) ::WriteFile(out, data, n, &written, nullptr);
}

}  // namespace platform
