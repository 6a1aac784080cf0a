#include "platform/FileAppend.h"

#include "platform/Paths.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {
// Append-only access with read and write sharing, so that other programs
// (and other trace writers) may read and append at the same time.
HANDLE OpenForAppend(const char* path) {
    return ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

int AppendBytes(const char* path, const char* data, size_t len) {
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        MakeSureDirectoryPathExists(path);
        file = OpenForAppend(path);
    }
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool written = true;
    while (len > 0) {
        DWORD chunk = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
        DWORD n = 0;
        if (!::WriteFile(file, data, chunk, &n, nullptr) || n == 0) {
            written = false;
            break;
        }
        data += n;
        len -= n;
    }
    const bool closed = ::CloseHandle(file) != 0;
    if (!written) return -2;
    return closed ? 0 : -3;
}

}  // namespace platform
