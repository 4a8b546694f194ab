#include "particles/id_order.h"

namespace {
// Runs shorter than this are sorted by exchanging out-of-order pairs.
constexpr int kShortRun = 7;
}  // namespace

void IDORD::SortRun(int* a, int* scratch, int n) const noexcept {
    if (n < kShortRun) {
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (Compare(a[i], a[j])) {
                    const int t = a[i];
                    a[i] = a[j];
                    a[j] = t;
                }
        return;
    }
    const int half = n / 2;
    SortRun(a, scratch, half);
    SortRun(a + half, scratch + half, n - half);
    if (!Compare(a[half - 1], a[half])) return;  // the halves are already in order
    int l = 0, r = half, o = 0;
    while (l < half && r < n) scratch[o++] = Compare(a[l], a[r]) ? a[r++] : a[l++];
    while (l < half) scratch[o++] = a[l++];
    while (r < n) scratch[o++] = a[r++];
    for (int i = 0; i < n; ++i) a[i] = scratch[i];
}

bool IDORD::Sort() noexcept {
    const int n = Count();
    if (n < 2 || ids == nullptr) return true;
    iArray<int> scratch;
    if (!scratch.SetSize(n, nullptr, true)) return false;
    SortRun(Data(), scratch.Data(), n);
    return true;
}
