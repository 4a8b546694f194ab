#include "particles/id_order.h"

#include <cstring>

#include "util/huge_pages.h"
#include "util/nothrow_new.h"

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

namespace {

// Scratch of the sort: made uninitialised (every element is written before
// it is read) and, when large, on huge pages, so that the sort does not pay
// for zeroing and for a fault per small page of memory it only passes through.
template <class T>
class Scratch {
public:
    Scratch() noexcept = default;
    ~Scratch() { deleteArray(data_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool Make(size_t count) noexcept {
        if (!newArray(data_, count)) return false;
        ZUtils::AdviseLargeArray(data_, count * sizeof(T));
        return true;
    }
    T* Data() const noexcept { return data_; }

private:
    T* data_ = nullptr;
};

// The digit of `key` a pass with this shift sorts on.
inline uint32_t Digit(uint64_t key, int shift) noexcept {
    return static_cast<uint32_t>(key >> shift) & (kBuckets - 1);
}

// Turns the counts of one pass into the first position of each digit.
void StartsFromCounts(uint32_t* bucket) noexcept {
    uint32_t start = 0;
    for (int d = 0; d < kBuckets; ++d) {
        const uint32_t c = bucket[d];
        bucket[d] = start;
        start += c;
    }
}

// The order of equal IDs is the one this library has always produced: the
// halving merge sort that ends on runs shorter than kShortRun, sorted by
// exchanges (which may swap equal IDs), then merged stably. Merging keeps
// equal IDs in the order of the exchange-sorted runs, left run first, so a
// stable sort of the array after the exchanges gives the very same order.
//
// One run of N particles exchange-sorted on their keys, each (key, particle)
// then handed to `emit` in the resulting order. The exchanges are branch-free:
// on shuffled IDs every comparison would be a coin toss for the predictor.
template <int N, class KeyOf, class Emit>
void EmitRun(const int* a, const KeyOf& keyOf, Emit& emit) noexcept {
    static_assert(N < kShortRun);
    uint64_t key[N];
    int particle[N];
    for (int i = 0; i < N; ++i) {
        particle[i] = a[i];
        key[i] = keyOf(a[i]);
    }
    for (int i = 0; i < N; ++i)
        for (int j = i + 1; j < N; ++j) {
            const bool swap = key[i] > key[j];
            const uint64_t ki = key[i], kj = key[j];
            const int pi = particle[i], pj = particle[j];
            key[i] = swap ? kj : ki;
            key[j] = swap ? ki : kj;
            particle[i] = swap ? pj : pi;
            particle[j] = swap ? pi : pj;
        }
    for (int i = 0; i < N; ++i) emit(key[i], particle[i]);
}

// Visits the runs left to right (`emit` may write back over the run just read).
template <class KeyOf, class Emit>
void EmitShortRuns(const int* a, int n, const KeyOf& keyOf, Emit& emit) noexcept {
    if (n >= kShortRun) {
        const int half = n / 2;
        EmitShortRuns(a, half, keyOf, emit);
        EmitShortRuns(a + half, n - half, keyOf, emit);
        return;
    }
    switch (n) {
        case 1: return EmitRun<1>(a, keyOf, emit);
        case 2: return EmitRun<2>(a, keyOf, emit);
        case 3: return EmitRun<3>(a, keyOf, emit);
        case 4: return EmitRun<4>(a, keyOf, emit);
        case 5: return EmitRun<5>(a, keyOf, emit);
        case 6: return EmitRun<6>(a, keyOf, emit);
        default: return;
    }
}

}  // namespace

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
    const size_t count = static_cast<size_t>(n);
    const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    auto keyOf = [&](int particle) { return static_cast<uint64_t>(ids[particle]) - static_cast<uint64_t>(low); };

    // The counts of every pass in one reading of the IDs: they do not depend
    // on the order, so they are taken before the exchanges.
    int passes = 0;
    while (passes < kMaxPasses && (span >> (passes * kDigitBits)) != 0) ++passes;
    iArray<uint32_t> counters;
    if (!counters.SetSize(kMaxPasses * kBuckets, nullptr, true)) return false;
    uint32_t* histogram = counters.Data();
    for (size_t i = 0; i < count; ++i) {
        const uint64_t key = keyOf(a[i]);
        for (int p = 0; p < passes; ++p) ++histogram[p * kBuckets + Digit(key, p * kDigitBits)];
    }
    // Only passes whose digit differs between keys move anything.
    int shifts[kMaxPasses];
    int moving = 0;
    for (int p = 0; p < passes; ++p) {
        const uint32_t* bucket = histogram + p * kBuckets;
        if (bucket[Digit(keyOf(a[0]), p * kDigitBits)] == count) continue;
        StartsFromCounts(histogram + p * kBuckets);
        shifts[moving++] = p;
    }
    if (moving == 0) return true;  // distinct keys differ in some digit; kept for safety

    if (span <= UINT32_MAX) {
        // Key and particle packed in one word, key above: a pass moves 8
        // bytes per particle, and the last pass writes the particles alone
        // straight into the ordering.
        Scratch<uint64_t> packed[2];
        if (!packed[0].Make(count) || (moving > 2 && !packed[1].Make(count))) return false;
        // The first pass takes the runs as the exchanges leave them.
        uint64_t* from = packed[0].Data();
        {
            uint32_t* bucket = histogram + shifts[0] * kBuckets;
            const int shift = shifts[0] * kDigitBits;
            auto scatter = [&](uint64_t key, int particle) {
                from[bucket[Digit(key, shift)]++] = key << 32 | static_cast<uint32_t>(particle);
            };
            EmitShortRuns(a, n, keyOf, scatter);
        }
        uint64_t* to = packed[1].Data();
        for (int m = 1; m < moving; ++m) {
            uint32_t* bucket = histogram + shifts[m] * kBuckets;
            const int shift = shifts[m] * kDigitBits + 32;
            if (m + 1 == moving) {
                for (size_t i = 0; i < count; ++i)
                    a[bucket[Digit(from[i], shift)]++] = static_cast<int>(static_cast<uint32_t>(from[i]));
                return true;
            }
            for (size_t i = 0; i < count; ++i) to[bucket[Digit(from[i], shift)]++] = from[i];
            uint64_t* t = from;
            from = to;
            to = t;
        }
        for (size_t i = 0; i < count; ++i) a[i] = static_cast<int>(static_cast<uint32_t>(from[i]));
        return true;
    }

    // Keys of up to 64 bits: keys and particles in arrays of their own.
    Scratch<uint64_t> keyBlock;
    Scratch<int> indexBlock;
    if (!keyBlock.Make(2 * count) || !indexBlock.Make(count)) return false;
    uint64_t* keys = keyBlock.Data();
    uint64_t* keysOut = keys + count;
    int* index = a;
    int* indexOut = indexBlock.Data();
    size_t at = 0;
    auto store = [&](uint64_t key, int particle) {
        keys[at] = key;
        a[at++] = particle;
    };
    EmitShortRuns(a, n, keyOf, store);
    for (int m = 0; m < moving; ++m) {
        uint32_t* bucket = histogram + shifts[m] * kBuckets;
        const int shift = shifts[m] * kDigitBits;
        for (size_t i = 0; i < count; ++i) {
            const uint64_t key = keys[i];
            const uint32_t to = bucket[Digit(key, shift)]++;
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
