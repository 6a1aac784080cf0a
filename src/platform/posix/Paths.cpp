#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/NativeSources.h"

namespace platform {

std::string native::ModuleFileName() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

char PathSeparator() { return '/'; }

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
