// Sanitizer settings compiled into every fuzz target, so that a crash
// replays the same way under run.sh, in CI and by hand.
#pragma once

extern "C" const char* __asan_default_options() {
    // A few hostile bytes may declare a grid or particle count of billions;
    // the library must then take its out-of-memory path, not the fuzzer's
    // process. Allocations above 32 MiB fail (return null) instead of
    // aborting, which also exercises those paths on every such input.
    return "allocator_may_return_null=1:max_allocation_size_mb=32:detect_leaks=1";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
