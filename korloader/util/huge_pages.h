// Transparent huge pages for the large arrays the library makes: the first
// touch of a fresh 64 MiB array then costs 32 faults instead of 16384, and
// strided passes over it miss the TLB far less. KORLOADER_HUGE_PAGES=0 turns
// it off (read once). Only advice: arrays stay as they were made and are
// freed the same way.
#pragma once
#include <cstddef>

namespace ZUtils {

// Arrays of at least this many bytes ask for huge pages.
constexpr size_t kHugePageMinBytes = size_t{4} << 20;

bool HugePagesOn() noexcept;

// Advises a fresh, untouched array of `bytes` onto huge pages when it is
// large enough and huge pages are on.
void AdviseLargeArray(void* start, size_t bytes) noexcept;

}  // namespace ZUtils
