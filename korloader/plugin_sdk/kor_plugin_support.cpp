// Compiled into every import plug-in module (never into the library): the
// allocator and diagnostics that the library's string and iArray expect.
//
// Allocation is plain malloc/free, exactly what the library's own allocator
// does when its test switch is off, so records and arrays made on one side
// may be released on the other. Diagnostics are dropped: a module has no log.
#include <cstdlib>

#include "diag/log.h"
#include "util/alloc.h"

namespace ZUtils {

bool AllocationShouldFail() noexcept { return false; }
void FailAllocationAt(int64_t, bool) noexcept {}
int64_t AllocationsCounted() noexcept { return 0; }
void* AllocBytes(size_t bytes) noexcept { return std::malloc(bytes ? bytes : 1); }
void* ReallocBytes(void* p, size_t bytes) noexcept { return std::realloc(p, bytes ? bytes : 1); }
void FreeBytes(void* p) noexcept { std::free(p); }

}  // namespace ZUtils

void LogPrint(const char*, ...) {}
void DebugPrint(const char*, ...) {}

namespace KorDiag {
void SetCaptureSink(CaptureSink, void*) {}
}  // namespace KorDiag
