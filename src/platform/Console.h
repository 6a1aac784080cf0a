#pragma once
#include <cstddef>

namespace platform {

// The process's terminal is its console: nothing to allocate.
void AllocConsole();
// Writes ESC ] 0 ; title BEL to standard output when it is a terminal.
void SetConsoleTitleA(const char* title);
// One write of the whole record to descriptor 1.
void WriteConsoleStdout(const char* data, size_t len);

}  // namespace platform
