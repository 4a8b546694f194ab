// POSIX types behind the platform layer.
#pragma once
#include <pthread.h>

namespace KorPlatform {
struct NativeCriticalSection {
    pthread_mutex_t mutex;
};
}  // namespace KorPlatform
