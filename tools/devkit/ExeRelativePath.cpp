#include "devkit/ExeRelativePath.h"

#include <climits>
#include <unistd.h>

namespace devkit {

std::string ExeRelativePath(const std::string& path) {
    char exe[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("/");
    dir.resize(dir.rfind('/'));
    std::string value;
    for (char c : dir)
        if (c == '/') value += "\\..";
    for (char c : path) value += c == '/' ? '\\' : c;
    return value;
}

}  // namespace devkit
