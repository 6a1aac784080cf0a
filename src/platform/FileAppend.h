#pragma once
#include <cstddef>

namespace platform {

// Appends `len` bytes to the file at `path` (created when missing) with one
// open, write and close. Only when the open fails for want of a folder are
// the folders of the path created and the open tried once more.
// 0 written, -1 the file could not be opened, -2 the write failed, -3 the
// close failed.
int AppendBytes(const char* path, const char* data, size_t len);

}  // namespace platform
