#include "util/huge_pages.h"

#include <atomic>

#include "platform/platform.h"
#include "util/environment.h"

namespace ZUtils {
namespace {
// -1 not read yet, else 0 or 1. Read once, from any thread.
std::atomic<int> g_hugePages{-1};
}  // namespace

bool HugePagesOn() noexcept {
    int on = g_hugePages.load(std::memory_order_relaxed);
    if (on < 0) {
        on = EnvironmentNumber("KORLOADER_HUGE_PAGES", 1) != 0 ? 1 : 0;
        g_hugePages.store(on, std::memory_order_relaxed);
    }
    return on != 0;
}

void AdviseLargeArray(void* start, size_t bytes) noexcept {
    if (bytes >= kHugePageMinBytes && HugePagesOn()) KorPlatform::AdviseHugePages(start, bytes);
}

}  // namespace ZUtils
