#include "platform/Console.h"

#include <string>
#include <unistd.h>

namespace platform {

void AllocConsole() {}

void SetConsoleTitleA(const char* title) {
    if (!title || !isatty(1)) return;
    std::string seq = std::string("\x1b]0;") + title + "\x07";
    WriteConsoleStdout(seq.data(), seq.size());
}

void WriteConsoleStdout(const char* data, size_t len) {
    if (!data || len == 0) return;
    ssize_t ignored = write(1, data, len);
    (void)ignored;
}

}  // namespace platform
