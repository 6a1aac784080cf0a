#include "support/TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace testsupport {
namespace {
std::string TestRoot() {
    const char* env = std::getenv("TOLVANE_TEST_TMP");
    std::string root = env && *env ? env : "/tmp/tolvane-tests";
    std::string cmd = "mkdir -p '" + root + "'";
    if (std::system(cmd.c_str()) != 0) return "/tmp";
    return root;
}

int CountEntries(const char* folder) {
    DIR* d = opendir(folder);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n;
}
}  // namespace

TempDir::TempDir() {
    std::string pattern = TestRoot() + "/t.XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    m_path = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (m_path.size() > 5) {
        std::string cmd = "rm -rf '" + m_path + "'";
        int ignored = std::system(cmd.c_str());
        (void)ignored;
    }
}

void WriteTextFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int CountOpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }  // minus the one opendir holds
int CountThreads() { return CountEntries("/proc/self/task"); }

}  // namespace testsupport
