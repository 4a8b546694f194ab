// Non-throwing array allocation shared by the codecs, the frame and the
// readers. Arrays are released with deleteArray (array delete).
#pragma once
#include <cstddef>
#include <new>

#include "diag/log.h"
#include "util/alloc.h"

template <class T>
bool newArray(T*& out, size_t count) noexcept {
    out = nullptr;
    if (ZUtils::AllocationShouldFail()) return false;
    try {
        out = new (std::nothrow) T[count];
    } catch (...) {
        // An array length that cannot be represented raises even with nothrow.
        LogPrint("[ERROR] newArray failed to allocate %.0f\n", static_cast<double>(static_cast<float>(count)));
        out = nullptr;
    }
    return out != nullptr;
}

template <class T>
void deleteArray(T*& p) noexcept {
    delete[] p;
    p = nullptr;
}
