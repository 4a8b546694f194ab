// Non-throwing allocation of arrays and single objects, shared by the codecs,
// the frame, the readers and the job sets. Both ask the allocation test
// switch first (util/alloc.h), so that every such allocation can be made to
// fail. Arrays are released with deleteArray (array delete), objects with
// delete.
#pragma once
#include <cstddef>
#include <new>
#include <utility>

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

// A new T made from `args`, or null when memory is short. T's constructor
// must not throw.
template <class T, class... Args>
T* newObject(Args&&... args) noexcept {
    static_assert(noexcept(T(std::forward<Args>(args)...)), "objects made here are built without throwing");
    if (ZUtils::AllocationShouldFail()) return nullptr;
    return new (std::nothrow) T(std::forward<Args>(args)...);
}
