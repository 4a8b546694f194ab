#include "frame/channel_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "util/environment.h"
#include "util/huge_pages.h"
#include "util/nothrow_new.h"

namespace ChannelPool {
namespace {

struct Kept {
    float* array;
    size_t values;
};

// Constant-initialised, guarded by a spin lock on a flag: usable from any
// thread before and after static construction, and the work under the lock
// is a short scan of at most kMaxKept entries (allocation and freeing happen
// outside it).
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;
Kept g_kept[kMaxKept] = {};  // oldest first
int g_count = 0;
int64_t g_keptBytes = 0;
int64_t g_bound = -1;  // -1: not read yet
int64_t g_reused = 0;
int64_t g_made = 0;
bool g_closed = false;  // unloading: nothing more is kept

class Lock {
public:
    Lock() noexcept {
        while (g_busy.test_and_set(std::memory_order_acquire)) {
            while (g_busy.test(std::memory_order_relaxed)) {
            }
        }
    }
    ~Lock() { g_busy.clear(std::memory_order_release); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

int64_t BytesOf(size_t values) noexcept { return static_cast<int64_t>(values * sizeof(float)); }

int64_t BoundLocked() noexcept {
    if (g_bound < 0) {
        const int64_t mib = ZUtils::EnvironmentNumber("KORLOADER_CHANNEL_POOL_MB", -1);
        g_bound = mib >= 0 && mib <= (INT64_MAX >> 20) ? mib << 20 : kDefaultBoundBytes;
    }
    return g_bound;
}

// Removes the oldest kept array into `out` (to be freed outside the lock).
bool PopOldestLocked(Kept& out) noexcept {
    if (g_count == 0) return false;
    out = g_kept[0];
    for (int i = 1; i < g_count; ++i) g_kept[i - 1] = g_kept[i];
    --g_count;
    g_keptBytes -= BytesOf(out.values);
    return true;
}

// Frees what the pool keeps when the library is unloaded.
struct DrainAtUnload {
    ~DrainAtUnload() {
        {
            Lock lock;
            g_closed = true;
        }
        Drain();
    }
} g_drainAtUnload;

// The arrays the pool hands out start on a cache line: the grid decoder's
// vectors then cover each row from its first cell. Only the pool frees them.
constexpr std::align_val_t kPoolAlignment{64};

float* MakePoolArray(size_t values) noexcept {
    if (ZUtils::AllocationShouldFail() || values > SIZE_MAX / sizeof(float)) return nullptr;
    auto* array = static_cast<float*>(::operator new[](values * sizeof(float), kPoolAlignment, std::nothrow));
    if (array != nullptr) ZUtils::AdviseLargeArray(array, values * sizeof(float));
    return array;
}

void FreePoolArray(float* array) noexcept { ::operator delete[](array, kPoolAlignment); }

}  // namespace

float* MakeArray(size_t values) noexcept {
    float* array = nullptr;
    if (!newArray(array, values)) return nullptr;
    ZUtils::AdviseLargeArray(array, values * sizeof(float));
    return array;
}

float* Take(size_t values) noexcept {
    {
        Lock lock;
        // The newest array of the count: the one most likely still in cache.
        for (int i = g_count - 1; i >= 0; --i) {
            if (g_kept[i].values != values) continue;
            float* array = g_kept[i].array;
            for (int k = i + 1; k < g_count; ++k) g_kept[k - 1] = g_kept[k];
            --g_count;
            g_keptBytes -= BytesOf(values);
            ++g_reused;
            return array;
        }
        ++g_made;
    }
    return MakePoolArray(values);
}

void Give(float* array, size_t values) noexcept {
    if (array == nullptr) return;
    const int64_t bytes = BytesOf(values);
    Kept evicted[kMaxKept];
    int evictions = 0;
    bool kept = false;
    {
        Lock lock;
        const int64_t bound = BoundLocked();
        if (bytes <= bound && !g_closed) {
            while ((g_keptBytes + bytes > bound || g_count == kMaxKept) &&
                   PopOldestLocked(evicted[evictions]))
                ++evictions;
            g_kept[g_count++] = Kept{array, values};
            g_keptBytes += bytes;
            kept = true;
        }
    }
    for (int i = 0; i < evictions; ++i) FreePoolArray(evicted[i].array);
    if (!kept) FreePoolArray(array);
}

void Drain() noexcept {
    for (;;) {
        Kept oldest;
        {
            Lock lock;
            if (!PopOldestLocked(oldest)) return;
        }
        FreePoolArray(oldest.array);
    }
}

Stats GetStats() noexcept {
    Lock lock;
    Stats s;
    s.boundBytes = BoundLocked();
    s.keptBytes = g_keptBytes;
    s.keptArrays = g_count;
    s.reused = g_reused;
    s.made = g_made;
    s.hugePages = ZUtils::HugePagesOn();
    return s;
}

void SetBound(int64_t bytes) noexcept {
    Kept evicted[kMaxKept];
    int evictions = 0;
    {
        Lock lock;
        g_bound = -1;
        if (bytes >= 0) g_bound = bytes;
        const int64_t bound = BoundLocked();
        while (g_keptBytes > bound && PopOldestLocked(evicted[evictions])) ++evictions;
    }
    for (int i = 0; i < evictions; ++i) FreePoolArray(evicted[i].array);
}

}  // namespace ChannelPool
