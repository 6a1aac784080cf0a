#include "platform/Paths.h"

#include <string>
#include <vector>

#include "platform/NativeSources.h"
#include "platform/PathSeparators.h"
#include "platform/win32/Windows.h"

namespace platform {

std::string native::ModuleFileName() {
    // The name is cut to the buffer without a sign of it: grow until it fits.
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size() - 1 || buf.size() >= 32768) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

char PathSeparator() { return '\\'; }

bool MakeSureDirectoryPathExists(const std::string& path) {
    bool ok = true;
    for (size_t i = 1; i < path.size(); ++i) {
        if (!IsPathSeparator(path[i])) continue;
        std::string folder = path.substr(0, i);
        // Drive names ("C:") and the leading parts of "\\server\share" are not folders to make.
        if (folder.back() == ':' || IsPathSeparator(folder.back())) continue;
        if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) ok = false;
        }
    }
    return ok;
}

}  // namespace platform
