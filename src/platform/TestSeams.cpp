// The platform calls that tests may replace: the executable's path and the
// two clocks. Each answers with the replacement while one is set, otherwise
// with the backend's own reading.
#include <atomic>
#include <mutex>

#include "platform/NativeSources.h"
#include "platform/Paths.h"
#include "platform/Time.h"

namespace platform {
namespace {
std::mutex g_overrideLock;
std::string g_override;
std::atomic<TickSource> g_tickSource{nullptr};
std::atomic<LocalTimeSource> g_localTimeSource{nullptr};
}  // namespace

std::string ProcessModuleFileName() {
    {
        std::lock_guard<std::mutex> lock(g_overrideLock);
        if (!g_override.empty()) return g_override;
    }
    return native::ModuleFileName();
}

void SetModuleFileNameForTest(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_override = path;
}

uint32_t GetTickCount() {
    if (TickSource source = g_tickSource.load()) return source();
    return native::TickCount();
}

LocalTime GetLocalTime() {
    if (LocalTimeSource source = g_localTimeSource.load()) return source();
    return native::LocalTimeNow();
}

void SetTickSource(TickSource source) { g_tickSource.store(source); }
void SetLocalTimeSource(LocalTimeSource source) { g_localTimeSource.store(source); }

}  // namespace platform
