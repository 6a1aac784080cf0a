#include "common/ModuleDir.h"

#include <cstring>

#include "platform/PathSeparators.h"
#include "platform/Paths.h"

void GetModuleDir(unsigned size, char* buffer) {
    std::string path = platform::ProcessModuleFileName();
    if (path.size() > 519) path.resize(519);  // read into a 520-character buffer
    size_t cut = platform::FolderEnd(path);
    if (cut != std::string::npos) path.resize(cut);
    if (!buffer || size == 0) return;
    size_t n = path.size() < size - 1 ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
}

std::string GetModuleDirString(unsigned size) {
    std::string buf(size, '\0');
    GetModuleDir(size, &buf[0]);
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}
