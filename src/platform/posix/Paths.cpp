#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {
std::mutex g_overrideLock;
std::string g_override;
}  // namespace

std::string ProcessModuleFileName() {
    {
        std::lock_guard<std::mutex> lock(g_overrideLock);
        if (!g_override.empty()) return g_override;
    }
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

char PathSeparator() { return '/'; }

void SetModuleFileNameForTest(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_override = path;
}

bool MakeSureDirectoryPathExists(const std::string& path) {
    if (path.rfind('/') == std::string::npos) return true;
    bool ok = true;
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        std::string folder = path.substr(0, i);
        if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) ok = false;
    }
    return ok;
}

}  // namespace platform
