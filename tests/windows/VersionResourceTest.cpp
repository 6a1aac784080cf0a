// The DLL and the command beside the test program carry the project's
// version in their version resource, as Windows shows it in a file's
// properties.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string BesideThisProgram(const char* name) {
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string path(exe, n);
    return path.substr(0, path.rfind('\\') + 1) + name;
}

std::string Text(const std::vector<char>& info, const char* key) {
    void* value = nullptr;
    UINT len = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(info.data(), path.c_str(), &value, &len) || len == 0) return std::string();
    return static_cast<const char*>(value);
}

TEST(VersionResourceTest, DllAndCommandCarryTheProjectVersion) {
    const struct {
        const char* file;
        DWORD type;
    } files[] = {{"Tolvane.dll", VFT_DLL}, {"tolvane.exe", VFT_APP}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const std::string path = BesideThisProgram(f.file);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path;
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
        EXPECT_EQ(TOLVANE_VERSION_MS, fixed->dwFileVersionMS);
        EXPECT_EQ(TOLVANE_VERSION_LS, fixed->dwFileVersionLS);
        EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
        EXPECT_EQ(f.type, fixed->dwFileType);
        EXPECT_EQ(TOLVANE_VERSION, Text(info, "FileVersion"));
        EXPECT_EQ(TOLVANE_VERSION, Text(info, "ProductVersion"));
        EXPECT_EQ("Tolvane", Text(info, "ProductName"));
        EXPECT_EQ(f.file, Text(info, "OriginalFilename"));
        EXPECT_NE("", Text(info, "FileDescription"));
    }
}

}  // namespace
