#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/Time.h"

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

// The bytes of a list of values (0..255).
inline std::string Bytes(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }
// `body` with the length header of `headerMode` in front.
std::string Frame(int headerMode, const std::string& body, int headerIncluded = 0);

// The tick count the library reads: `now`, counting its reads, until the object goes.
struct FakeTick {
    explicit FakeTick(uint32_t start) {
        now = start;
        reads = 0;
        platform::SetTickSource([] { ++reads; return now.load(); });
    }
    ~FakeTick() { platform::SetTickSource(nullptr); }
    static inline std::atomic<uint32_t> now{0};
    static inline std::atomic<int> reads{0};
};

// Number of open descriptors and threads of this process.
int CountOpenDescriptors();
// The fewest open descriptors over a few reads 20 ms apart: a baseline taken
// while a trace record's file is open for its append would stay one too high.
int SettledDescriptorCount();
int CountThreads();
// CPU time this process has used, in milliseconds.
long CpuTimeMs();
// CountThreads once a first thread has come and gone, so that helper threads
// a runtime starts with the first one are counted.
int SettledThreadCount();

}  // namespace testsupport
