#include "platform/FileAppend.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/Paths.h"

namespace platform {
namespace {
int OpenForAppend(const char* path) {
    int fd;
    do {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
}  // namespace

int AppendBytes(const char* path, const char* data, size_t len) {
    int fd = OpenForAppend(path);
    if (fd < 0 && errno == ENOENT) {
        MakeSureDirectoryPathExists(path);
        fd = OpenForAppend(path);
    }
    if (fd < 0) return -1;
    bool written = true;
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    const bool closed = close(fd) == 0;
    if (!written) return -2;
    return closed ? 0 : -3;
}

}  // namespace platform
