#include "devkit/ExeRelativePath.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace devkit {
namespace {
std::string ExePath() {
#ifdef _WIN32
    char exe[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return n > 0 ? std::string(exe, n) : std::string("\\");
#else
    char exe[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    return n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("/");
#endif
}
}  // namespace

std::string ExeRelativePath(const std::string& path) {
    std::string dir = ExePath();
    dir.resize(dir.find_last_of("/\\"));
    std::string value;
    for (char c : dir)
        if (c == '/' || c == '\\') value += "\\..";
    for (char c : path) value += c == '/' ? '\\' : c;
    return value;
}

}  // namespace devkit
