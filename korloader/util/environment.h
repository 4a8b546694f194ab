// Settings read from the process environment.
#pragma once
#include <cstdint>

namespace ZUtils {

// The value of an environment variable as a whole number, or `fallback` when
// it is not set or is not a number from 0 to INT64_MAX.
int64_t EnvironmentNumber(const char* name, int64_t fallback) noexcept;

}  // namespace ZUtils
