#include "devkit/ExeRelativePath.h"

#include <cctype>

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

// The drive ("C:") that starts a Windows path; empty for any other path.
std::string Drive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' ? std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))) + ":"
                                              : std::string();
}

}  // namespace

std::string ExeFolder() {
    std::string dir = ExePath();
    dir.resize(dir.find_last_of("/\\"));
    return dir;
}

std::string ExeRelativePath(const std::string& path) {
    const std::string dir = ExeFolder();
    // "..\" leads up to the root of the executable's drive, never to another.
    std::string from = path;
    if (Drive(dir) != Drive(from)) return std::string();
    from.erase(0, Drive(from).size());
    std::string value;
    for (char c : dir)
        if (c == '/' || c == '\\') value += "\\..";
    for (char c : from) value += c == '/' ? '\\' : c;
    return value;
}

}  // namespace devkit
