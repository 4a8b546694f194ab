#include "codecs/vector_width.h"

int VectorBitsUpTo(int limit) noexcept {
#if KOR_WIDE_VECTORS
    // Initialised here too, in case a host calls in before the run-time's
    // own initialisers have run.
    static const bool has512 = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f"));
    static const bool has256 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    if (limit >= 512 && has512) return 512;
    if (limit >= 256 && has256) return 256;
#endif
    (void)limit;
    return 128;
}
