// IDORD: the ordering of a group's particles by ID, for lookups by ID on
// groups whose stored IDs do not ascend.
#pragma once
#include <cstdint>

#include "util/iarray.h"

class IDORD final : public iArray<int> {
public:
    IDORD() noexcept = default;
    IDORD(IDORD&&) noexcept = default;
    ~IDORD() override = default;

    // True when the ID of particle a is greater than the ID of particle b.
    virtual bool Compare(int a, int b) const noexcept { return ids[a] > ids[b]; }

    // Sorts the held particle indices so that the IDs they index ascend, in
    // time linear in the count (a radix sort). Equal IDs keep the order the
    // library's earlier merge sort gave them, so lookups of a repeated ID
    // find the same particle as before. False when the scratch arrays cannot
    // be allocated; the array is then unchanged.
    bool Sort() noexcept;

    // The decoded ID values the comparison reads (not owned).
    const int64_t* ids = nullptr;
};
