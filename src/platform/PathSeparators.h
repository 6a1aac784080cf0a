#pragma once
#include <cstddef>
#include <string>

// Where a path is cut into folder and name: paths may come with Windows
// separators (configured values, module names on Windows) or Linux ones.
namespace platform {

constexpr bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// Position of the separator a path's folder ends at: its last '\', or, when
// it has none, its last '/'; npos when it has neither.
inline size_t FolderEnd(const std::string& path) {
    size_t cut = path.rfind('\\');
    return cut != std::string::npos ? cut : path.rfind('/');
}

}  // namespace platform
