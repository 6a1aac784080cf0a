#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "framing/Framing.h"
#include "common/DataBlock.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>
#endif

namespace fs = std::filesystem;

namespace testsupport {
namespace {
#ifndef _WIN32
// Entries of a folder, or -1 when it cannot be read.
int CountEntries(const char* folder) {
    std::error_code ec;
    fs::directory_iterator entries(folder, ec);
    return ec ? -1 : static_cast<int>(std::distance(entries, fs::directory_iterator()));
}
#endif
}  // namespace

TempDir::TempDir() : m_path("/tmp") {
    const char* root = std::getenv("TOLVANE_TEST_TMP");
    const fs::path parent(root && *root ? root : "/tmp/tolvane-tests");
    std::error_code ec;
    fs::create_directories(parent, ec);
    // A name nobody else took: create_directory fails on an existing one.
    static std::atomic<unsigned> serial{0};
    std::mt19937 random(std::random_device{}() ^ (serial++ * 2654435761u));
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "t.";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        if (fs::create_directory(parent / name, ec) && !ec) {
            m_path = (parent / name).generic_string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    if (m_path != "/tmp") fs::remove_all(m_path, ec);
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

#ifdef _WIN32
// Sockets are handles on Windows; so are events and threads, which the
// callers' counts must then leave alone.
int CountOpenDescriptors() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}
#else
int CountOpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }  // minus the one the listing holds
#endif
int SettledDescriptorCount() {
    int fewest = CountOpenDescriptors();
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fewest = std::min(fewest, CountOpenDescriptors());
    }
    return fewest;
}
#ifdef _WIN32
long CpuTimeMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    auto ms = [](const FILETIME& t) {
        return static_cast<long>((static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000u);
    };
    return ms(kernel) + ms(user);
}

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}
#else
long CpuTimeMs() { return static_cast<long>(std::clock() * 1000.0 / CLOCKS_PER_SEC); }

int CountThreads() { return CountEntries("/proc/self/task"); }
#endif

int SettledThreadCount() {
    std::thread([] {}).join();
    return CountThreads();
}

std::string Frame(int headerMode, const std::string& body, int headerIncluded) {
    auto block = std::make_unique<_DATA_BLOCK>();
    block->Clear();
    std::copy(body.begin(), body.end(), block->data);
    block->length = static_cast<uint32_t>(body.size());
    BuildFrame(headerMode, headerIncluded, block.get());
    return std::string(reinterpret_cast<const char*>(block->data), block->length);
}

}  // namespace testsupport
