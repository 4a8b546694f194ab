#include "util/alloc.h"

#include <atomic>
#include <cstdlib>

namespace ZUtils {
namespace {
std::atomic<int64_t> g_failAt{0};
std::atomic<bool> g_failEvery{false};
std::atomic<int64_t> g_counted{0};
std::atomic<AllocationFailureObserver> g_observer{nullptr};

bool ShouldFailAt(const void* site) noexcept {
    const int64_t k = g_failAt.load(std::memory_order_relaxed);
    if (k <= 0) return false;
    const int64_t n = g_counted.fetch_add(1, std::memory_order_relaxed) + 1;
    const bool fail = g_failEvery.load(std::memory_order_relaxed) ? n >= k : n == k;
    if (fail) {
        if (AllocationFailureObserver observer = g_observer.load(std::memory_order_acquire)) observer(site);
    }
    return fail;
}
}  // namespace

// Not inlined, so that the return address is the allocation site.
__attribute__((noinline)) bool AllocationShouldFail() noexcept { return ShouldFailAt(__builtin_return_address(0)); }

void SetAllocationFailureObserver(AllocationFailureObserver observer) noexcept {
    g_observer.store(observer, std::memory_order_release);
}

void FailAllocationAt(int64_t k, bool every) noexcept {
    g_counted.store(0);
    g_failEvery.store(every);
    g_failAt.store(k);
}

int64_t AllocationsCounted() noexcept { return g_counted.load(); }

__attribute__((noinline)) void* AllocBytes(size_t bytes) noexcept {
    if (ShouldFailAt(__builtin_return_address(0))) return nullptr;
    return std::malloc(bytes ? bytes : 1);
}

__attribute__((noinline)) void* ReallocBytes(void* p, size_t bytes) noexcept {
    if (ShouldFailAt(__builtin_return_address(0))) return nullptr;
    return std::realloc(p, bytes ? bytes : 1);
}

void FreeBytes(void* p) noexcept { std::free(p); }

}  // namespace ZUtils
