// Raw allocation used by every container of the library, with a test switch
// that makes the k-th allocation fail so that out-of-memory paths can be
// exercised deterministically. Nothing here throws.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ZUtils {

// True when the allocation about to be made must fail (test switch armed and
// reached). Every allocation site of the library asks this first.
bool AllocationShouldFail() noexcept;

// Test switch: the k-th allocation from now on (1-based) fails; 0 disarms.
// With `every` set, every allocation from the k-th on fails.
void FailAllocationAt(int64_t k, bool every = false) noexcept;
// Allocations counted since the switch was last set.
int64_t AllocationsCounted() noexcept;

// Test hook: called with the code address of the allocation site (the
// caller of AllocationShouldFail, AllocBytes or ReallocBytes) whenever the
// switch makes an allocation fail. Null removes it.
using AllocationFailureObserver = void (*)(const void* site);
void SetAllocationFailureObserver(AllocationFailureObserver observer) noexcept;

// malloc/realloc/free with the switch applied. Sizes are in bytes.
void* AllocBytes(size_t bytes) noexcept;
void* ReallocBytes(void* p, size_t bytes) noexcept;
void FreeBytes(void* p) noexcept;

}  // namespace ZUtils
