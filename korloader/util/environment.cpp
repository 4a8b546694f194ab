#include "util/environment.h"

#include <cstdlib>

namespace ZUtils {

int64_t EnvironmentNumber(const char* name, int64_t fallback) noexcept {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    int64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return fallback;
        const int digit = *text - '0';
        if (value > (INT64_MAX - digit) / 10) return fallback;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace ZUtils
