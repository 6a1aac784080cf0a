#pragma once
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// A fresh folder below the build's test area, removed with its contents
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);  // empty when missing

// Polls `condition` every few milliseconds until it holds or `limit` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Number of open descriptors and threads of this process.
int CountOpenDescriptors();
int CountThreads();

}  // namespace testsupport
