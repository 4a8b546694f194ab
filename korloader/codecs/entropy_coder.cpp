#include "codecs/entropy_coder.h"

#include <cstring>

#include "codecs/buffers.h"
#include "diag/log.h"

namespace {

// Node indices are int32 and a tree of n entries has 2n - 1 nodes.
constexpr int64_t kMaxTableEntries = int64_t(1) << 30;

inline uint64_t LowMask(unsigned n) noexcept { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }

}  // namespace

EntropyCoder::~EntropyCoder() { Release(); }

void EntropyCoder::Release() noexcept {
    deleteArray(srt_);
    deleteArray(tree_);
    deleteArray(table_);
    tableBits_ = 0;
    ready_ = false;
}

// --- Bit reader

inline void EntropyCoder::BitReader::Refill() noexcept {
    if (static_cast<size_t>(end - next) >= 8) {
        // Load 8 bytes and keep whole bytes up to 56..63 buffered bits. The
        // bits loaded above `avail` are the real following bytes, so ORing
        // them again on the next refill changes nothing.
        uint64_t word;
        std::memcpy(&word, next, 8);
        bits |= word << avail;
        next += (63 - avail) >> 3;
        avail |= 56;
        return;
    }
    while (avail < 56) {
        if (next < end)
            bits |= uint64_t(*next++) << avail;
        else
            overrun += 8;  // zero bits beyond the input
        avail += 8;
    }
}

inline uint64_t EntropyCoder::BitReader::Read(unsigned n) noexcept {
    if (avail < n) Refill();
    const uint64_t value = bits & LowMask(n);
    Consume(n);
    return value;
}

size_t EntropyCoder::BytesConsumed() const noexcept {
    const uint64_t bytes = (in_.ConsumedBits() + 7) / 8;
    return static_cast<size_t>(bytes < in_.totalBits / 8 ? bytes : in_.totalBits / 8);
}

// --- Table and tree

bool EntropyCoder::InitDecoder(const uint8_t* source, size_t sourceSize, size_t tokenLimit) noexcept {
    Release();
    failed_ = true;
    direct_ = false;
    count_ = offset_ = 0;
    in_ = BitReader{};
    in_.begin = in_.next = in_.end = source;
    if (source != nullptr) {
        in_.end = source + sourceSize;
        in_.totalBits = static_cast<uint64_t>(sourceSize) * 8;
    }
    if (source == nullptr || sourceSize == 0 || sourceSize > SIZE_MAX / 8) return false;

    const unsigned header = static_cast<unsigned>(in_.Read(8));
    if (header != 0) {
        // Direct form: every token in `header` bits.
        if (header > 32) return false;
        count_ = static_cast<int32_t>(header);
        offset_ = static_cast<int32_t>(static_cast<uint32_t>(in_.Read(32)));
        if (in_.PastEnd()) return false;
        direct_ = true;
        ready_ = true;
        failed_ = false;
        return true;
    }

    // Coded form: n, M, R, S, then n entries of 1 + (R) + S bits.
    const int64_t n = static_cast<int32_t>(static_cast<uint32_t>(in_.Read(32)));
    offset_ = static_cast<int32_t>(static_cast<uint32_t>(in_.Read(32)));
    const unsigned countBits = static_cast<unsigned>(in_.Read(6));
    const unsigned symbolBits = static_cast<unsigned>(in_.Read(6));
    if (in_.PastEnd()) return false;
    // n = 0 leaves nothing to decode with; R = 0 makes every count 0.
    if (n <= 0 || n > kMaxTableEntries || countBits == 0) return false;
    if (static_cast<uint64_t>(n) > tokenLimit) return false;
    // The smallest entry is a flag and a symbol: refuse a table the input cannot hold.
    const uint64_t leftBits = in_.totalBits - in_.ConsumedBits();
    if (static_cast<uint64_t>(n) > leftBits / (1 + symbolBits)) return false;
    count_ = static_cast<int32_t>(n);

    if (!newArray(srt_, static_cast<size_t>(n))) {
        LogPrint("Encode InitDecoder srt failed!\n");
        return false;
    }
    // Counts and symbols may be declared up to 63 bits wide; they are read in
    // two parts and must fit their int32 and uint32 slots.
    auto readWide = [this](unsigned width) -> uint64_t {
        if (width <= 32) return in_.Read(width);
        const uint64_t low = in_.Read(32);
        return low | (in_.Read(width - 32) << 32);
    };
    int64_t previous = 0;
    int64_t total = 0;
    for (int64_t e = 0; e < n; ++e) {
        const bool hasCount = in_.Read(1) != 0;
        const uint64_t count = hasCount ? readWide(countBits) : static_cast<uint64_t>(previous);
        const uint64_t symbol = readWide(symbolBits);
        if (count == 0 || count > INT32_MAX || symbol > UINT32_MAX) return false;
        srt_[e].symbol = static_cast<int32_t>(static_cast<uint32_t>(symbol));
        srt_[e].count = static_cast<int32_t>(count);
        previous = static_cast<int64_t>(count);
        total += previous;
    }
    if (in_.PastEnd()) return false;

    if (!newArray(tree_, static_cast<size_t>(2 * n)) || !BuildTree(total)) {
        LogPrint("Encode InitDecoder tree failed!\n");
        return false;
    }
    BuildTable();
    if (table_ == nullptr) {
        LogPrint("Encode InitDecoder tree failed!\n");
        return false;
    }
    ready_ = true;
    failed_ = false;
    return true;
}

// Splits every node's run of table entries at its weight median: accumulate
// counts until the running sum S reaches h = floor(T/2) at entry i, with P
// the sum before it; the left part is the first i entries (weight P) when
// h - P < S - h, else the first i + 1 (weight S). Nodes are split in
// breadth-first order with the work kept in the node array itself, so any
// tree depth is handled without recursion.
bool EntropyCoder::BuildTree(int64_t totalWeight) noexcept {
    const int64_t n = count_;
    if (n == 1) {
        tree_[0] = Node{srt_[0].symbol, 0, 0};
        return true;
    }
    int64_t* weight = nullptr;
    if (!newArray(weight, static_cast<size_t>(2 * n))) return false;
    // Pending node q: value = first entry, child1 = entry count.
    tree_[0] = Node{0, 0, static_cast<int32_t>(n)};
    weight[0] = totalWeight;
    int64_t nextFree = 1;
    bool ok = true;
    for (int64_t q = 0; q < nextFree && ok; ++q) {
        const int32_t first = tree_[q].value;
        const int32_t m = tree_[q].child1;
        if (m == 1) {
            tree_[q] = Node{srt_[first].symbol, 0, 0};
            continue;
        }
        const int64_t h = weight[q] / 2;
        int64_t sum = 0;
        int32_t i = 0;
        for (; i < m; ++i) {
            sum += srt_[first + i].count;
            if (sum >= h) break;
        }
        const int64_t before = sum - srt_[first + i].count;
        int32_t left;
        int64_t leftWeight;
        if (h - before < sum - h) {
            left = i;
            leftWeight = before;
        } else {
            left = i + 1;
            leftWeight = sum;
        }
        // Counts are at least 1, so both parts are never empty; a tree with
        // a childless inner node could not decode, so refuse it outright.
        if (left == 0 || left >= m || nextFree + 2 > 2 * n) {
            ok = false;
            break;
        }
        const auto c0 = static_cast<int32_t>(nextFree);
        tree_[q] = Node{first + left, c0, c0 + 1};
        tree_[c0] = Node{first, 0, left};
        tree_[c0 + 1] = Node{first + left, 0, m - left};
        weight[c0] = leftWeight;
        weight[c0 + 1] = weight[q] - leftWeight;
        nextFree += 2;
    }
    deleteArray(weight);
    return ok;
}

// Fills the look-up table for the next tableBits_ bits. A leaf at depth L
// (code bits c, first decision lowest) owns every index whose low L bits are
// c; an inner node at depth tableBits_ marks where the tree walk continues.
void EntropyCoder::BuildTable() noexcept {
    struct Visit {
        int32_t node;
        uint32_t depth;
        uint32_t code;
    };
    Visit stack[2 * kTableBits + 4];
    // Depth of the table: the deepest leaf, but at most kTableBits.
    unsigned depth = 0;
    int top = 0;
    stack[top++] = Visit{0, 0, 0};
    while (top > 0) {
        const Visit v = stack[--top];
        const Node& node = tree_[v.node];
        if (v.depth > depth) depth = v.depth;
        if (node.child0 == 0 || v.depth == kTableBits) continue;
        stack[top++] = Visit{node.child1, v.depth + 1, 0};
        stack[top++] = Visit{node.child0, v.depth + 1, 0};
    }
    tableBits_ = depth;
    if (!newArray(table_, size_t(1) << tableBits_)) return;

    top = 0;
    stack[top++] = Visit{0, 0, 0};
    while (top > 0) {
        const Visit v = stack[--top];
        const Node& node = tree_[v.node];
        if (node.child0 == 0 || v.depth == tableBits_) {
            TableEntry entry;
            entry.length = static_cast<uint8_t>(v.depth);
            entry.isToken = node.child0 == 0;
            entry.value = entry.isToken ? static_cast<int32_t>(static_cast<uint32_t>(node.value) +
                                                               static_cast<uint32_t>(offset_))
                                        : v.node;
            for (uint32_t index = v.code; index < (uint32_t(1) << tableBits_); index += uint32_t(1) << v.depth)
                table_[index] = entry;
            continue;
        }
        stack[top++] = Visit{node.child1, v.depth + 1, v.code | (uint32_t(1) << v.depth)};
        stack[top++] = Visit{node.child0, v.depth + 1, v.code};
    }
}

// --- Decoding

// A code longer than the table: consume the table's bits, then walk the tree
// one bit at a time. Children always have higher indices, so the walk ends.
uint32_t EntropyCoder::ReadSymbolSlow(BitReader& in, const Node* tree, const TableEntry& entry) noexcept {
    in.Consume(entry.length);
    int32_t node = entry.value;
    while (tree[node].child0 != 0) {
        if (in.avail == 0) in.Refill();
        const unsigned bit = static_cast<unsigned>(in.bits & 1);
        in.Consume(1);
        node = bit ? tree[node].child1 : tree[node].child0;
    }
    return static_cast<uint32_t>(tree[node].value);
}

bool EntropyCoder::DecodeTokenChecked(int32_t& token) noexcept {
    in_.Refill();
    uint32_t value;
    if (direct_) {
        const unsigned width = static_cast<unsigned>(count_);
        value = static_cast<uint32_t>(in_.bits & LowMask(width)) + static_cast<uint32_t>(offset_);
        in_.Consume(width);
    } else {
        const TableEntry& entry = table_[in_.bits & LowMask(tableBits_)];
        if (entry.isToken) {
            value = static_cast<uint32_t>(entry.value);
            in_.Consume(entry.length);
        } else {
            value = ReadSymbolSlow(in_, tree_, entry) + static_cast<uint32_t>(offset_);
        }
    }
    token = static_cast<int32_t>(value);
    return !in_.PastEnd();
}

int32_t EntropyCoder::DecodeOne() noexcept {
    int32_t token = 0;
    if (!ready_ || failed_ || !DecodeTokenChecked(token)) {
        failed_ = true;
        return 0;
    }
    return token;
}

// Writes `copies` copies of value at to (room values are writable there).
// Most runs are short: with room, 16 copies are stored unconditionally in
// four 16-byte stores (the surplus is overwritten by what follows), so a
// run costs no loop and no branch on its length.
inline void FillRun(AliasedInt32* to, size_t copies, size_t room, int32_t value) noexcept {
    using Quad = int32_t __attribute__((vector_size(16)));
    const Quad quad = {value, value, value, value};
    if (room >= 16) {
        std::memcpy(to, &quad, 16);
        std::memcpy(to + 4, &quad, 16);
        std::memcpy(to + 8, &quad, 16);
        std::memcpy(to + 12, &quad, 16);
        if (copies <= 16) return;
        size_t c = 16;
        for (; c + 4 <= copies; c += 4) std::memcpy(to + c, &quad, 16);
        for (; c < copies; ++c) to[c] = value;
        return;
    }
    for (size_t c = 0; c < copies; ++c) to[c] = value;
}

// The hot loop: one refill (56+ bits) per token, a table look-up or a field
// read, and runs written as plain fills. The end of the input is only
// noticed through the zero bits fed past it (PastEnd), a rarely taken branch.
template <bool Direct>
bool EntropyCoder::ExpandLoop(AliasedInt32* out, size_t count, uint32_t base) noexcept {
    const uint32_t offset = static_cast<uint32_t>(offset_);
    const unsigned width = static_cast<unsigned>(count_);
    const uint64_t fieldMask = LowMask(width);
    const uint64_t tableMask = LowMask(tableBits_);
    const TableEntry* const table = table_;
    const Node* const tree = tree_;
    BitReader in = in_;
    bool ok = true;
    size_t i = 0;
    while (i < count) {
        in.Refill();
        uint32_t token;
        if (Direct) {
            token = static_cast<uint32_t>(in.bits & fieldMask) + offset;
            in.Consume(width);
        } else {
            const TableEntry& entry = table[in.bits & tableMask];
            if (entry.isToken) [[likely]] {
                token = static_cast<uint32_t>(entry.value);
                in.Consume(entry.length);
            } else {
                // A copy, so that `in` itself never escapes and stays in registers.
                BitReader slow = in;
                token = ReadSymbolSlow(slow, tree, entry) + offset;
                in = slow;
            }
        }
        if (in.PastEnd()) [[unlikely]] {
            ok = false;
            break;
        }
        if (static_cast<int32_t>(token) >= 0) {
            out[i++] = static_cast<int32_t>(token + base);
            continue;
        }
        // Run marker: -token more copies of the previous value.
        if (i == 0) {
            ok = false;
            break;
        }
        const uint64_t run = uint64_t(0) - static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(token)));
        const size_t room = count - i;
        const size_t copies = run < room ? static_cast<size_t>(run) : room;
        FillRun(out + i, copies, count - i, out[i - 1]);
        i += copies;
        if (run > room) {
            LogPrint("DecodeAndExpand - constant sequence longer than expected\n");
            break;
        }
    }
    in_ = in;
    return ok;
}

bool EntropyCoder::DecodeAndExpand(AliasedInt32* out, size_t count, int32_t base) noexcept {
    if (!ready_ || failed_ || (out == nullptr && count != 0)) return false;
    const bool ok = direct_ ? ExpandLoop<true>(out, count, static_cast<uint32_t>(base))
                            : ExpandLoop<false>(out, count, static_cast<uint32_t>(base));
    if (!ok) failed_ = true;
    return ok;
}
