#include "particles/id_order.h"

#include <cstring>

namespace {

// Runs shorter than this are sorted by exchanging out-of-order pairs.
constexpr int kShortRun = 7;

// Radix digits: 11 bits keeps the 2048 counters of every pass in L1 and sorts
// IDs that span up to 2^22 values in two passes.
constexpr int kDigitBits = 11;
constexpr int kBuckets = 1 << kDigitBits;
constexpr int kMaxPasses = (64 + kDigitBits - 1) / kDigitBits;
static_assert(kMaxPasses * kDigitBits >= 64, "the passes cover every key bit");

}  // namespace

// The order of equal IDs is the one this library has always produced: the
// halving merge sort that ends on runs shorter than kShortRun, sorted by
// exchanges (which may swap equal IDs), then merged stably. Merging keeps
// equal IDs in the order of the exchange-sorted runs, left run first, so a
// stable sort of the array after the exchanges gives the very same order.
void IDORD::SortShortRuns(int* a, int n) const noexcept {
    if (n >= kShortRun) {
        const int half = n / 2;
        SortShortRuns(a, half);
        SortShortRuns(a + half, n - half);
        return;
    }
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (Compare(a[i], a[j])) {
                const int t = a[i];
                a[i] = a[j];
                a[j] = t;
            }
}

bool IDORD::Sort() noexcept {
    const int n = Count();
    if (n < 2 || ids == nullptr) return true;
    int* a = Data();

    // Keys are the IDs less the smallest, as unsigned: their order is the IDs'
    // order and only the bits of the span need passes.
    int64_t low = ids[a[0]], high = low;
    for (int i = 1; i < n; ++i) {
        const int64_t id = ids[a[i]];
        if (id < low) low = id;
        if (id > high) high = id;
    }
    if (low == high) return true;  // every ID equal: the exchanges would swap none of them

    // Scratch: two key arrays, one index array and the counters of every pass.
    const size_t count = static_cast<size_t>(n);
    iArray<uint64_t, int64_t> keyBlock;
    iArray<int, int64_t> indexBlock;
    iArray<uint32_t> counters;
    if (!keyBlock.SetSize(static_cast<int64_t>(2 * count), nullptr, true) ||
        !indexBlock.SetSize(static_cast<int64_t>(count), nullptr, true) ||
        !counters.SetSize(kMaxPasses * kBuckets, nullptr, true))
        return false;

    SortShortRuns(a, n);

    const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    int passes = 0;
    while (passes < kMaxPasses && (span >> (passes * kDigitBits)) != 0) ++passes;

    uint64_t* keys = keyBlock.Data();
    uint64_t* keysOut = keys + count;
    int* index = a;
    int* indexOut = indexBlock.Data();
    uint32_t* histogram = counters.Data();
    for (size_t i = 0; i < count; ++i) {
        const uint64_t key = static_cast<uint64_t>(ids[a[i]]) - static_cast<uint64_t>(low);
        keys[i] = key;
        for (int p = 0; p < passes; ++p) ++histogram[p * kBuckets + ((key >> (p * kDigitBits)) & (kBuckets - 1))];
    }

    for (int p = 0; p < passes; ++p) {
        uint32_t* bucket = histogram + p * kBuckets;
        const int shift = p * kDigitBits;
        // A digit that every key shares moves nothing.
        if (bucket[(keys[0] >> shift) & (kBuckets - 1)] == count) continue;
        uint32_t start = 0;
        for (int d = 0; d < kBuckets; ++d) {
            const uint32_t c = bucket[d];
            bucket[d] = start;
            start += c;
        }
        for (size_t i = 0; i < count; ++i) {
            const uint64_t key = keys[i];
            const uint32_t to = bucket[(key >> shift) & (kBuckets - 1)]++;
            keysOut[to] = key;
            indexOut[to] = index[i];
        }
        uint64_t* k = keys;
        keys = keysOut;
        keysOut = k;
        int* x = index;
        index = indexOut;
        indexOut = x;
    }
    if (index != a) std::memcpy(a, index, count * sizeof(int));
    return true;
}
