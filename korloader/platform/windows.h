// Windows types behind the platform layer. <windows.h> itself stays out of
// the library's headers (its macros, FreeModule among them, would clash with
// the layer's names): the critical section is kept as storage of the system
// type's size and alignment, checked against the real type in windows.cpp.
#pragma once

namespace KorPlatform {
struct NativeCriticalSection {
    alignas(8) unsigned char storage[40];  // CRITICAL_SECTION on x64
};
}  // namespace KorPlatform
