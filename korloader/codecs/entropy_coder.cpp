#include "codecs/entropy_coder.h"

#include <algorithm>
#include <cstring>

#include "diag/log.h"
#include "util/nothrow_new.h"

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
    deleteArray(subtables_);
    deleteArray(runs_);
    deleteArray(runLengths_);
    runBase_ = 0;
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
    if (!BuildTable()) {
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

// Depth of the deepest leaf under root, but at most limit (an inner node at
// that depth counts as reaching it).
unsigned EntropyCoder::SubtreeDepth(int32_t root, unsigned limit) const noexcept {
    struct Visit {
        int32_t node;
        uint32_t depth;
    };
    Visit stack[2 * (kTableBits > kSubTableBits ? kTableBits : kSubTableBits) + 4];
    unsigned depth = 0;
    int top = 0;
    stack[top++] = Visit{root, 0};
    while (top > 0) {
        const Visit v = stack[--top];
        const Node& node = tree_[v.node];
        if (v.depth > depth) depth = v.depth;
        if (node.child0 == 0 || v.depth == limit) continue;
        stack[top++] = Visit{node.child1, v.depth + 1};
        stack[top++] = Visit{node.child0, v.depth + 1};
    }
    return depth;
}

// Fills a table of 2^bits entries for the codes under root. A leaf at depth
// L (code bits c, first decision lowest) owns every index whose low L bits
// are c; an inner node at depth `bits` marks where decoding continues.
void EntropyCoder::FillTable(TableEntry* to, unsigned bits, int32_t root) const noexcept {
    struct Visit {
        int32_t node;
        uint32_t depth;
        uint32_t code;
    };
    Visit stack[2 * (kTableBits > kSubTableBits ? kTableBits : kSubTableBits) + 4];
    int top = 0;
    stack[top++] = Visit{root, 0, 0};
    while (top > 0) {
        const Visit v = stack[--top];
        const Node& node = tree_[v.node];
        if (node.child0 == 0 || v.depth == bits) {
            TableEntry entry{};
            entry.length = static_cast<uint8_t>(v.depth);
            entry.kind = node.child0 == 0 ? kToken : kWalk;
            entry.value = entry.kind == kToken
                              ? static_cast<int32_t>(static_cast<uint32_t>(node.value) + static_cast<uint32_t>(offset_))
                              : v.node;
            for (uint32_t index = v.code; index < (uint32_t(1) << bits); index += uint32_t(1) << v.depth)
                to[index] = entry;
            continue;
        }
        stack[top++] = Visit{node.child1, v.depth + 1, v.code | (uint32_t(1) << v.depth)};
        stack[top++] = Visit{node.child0, v.depth + 1, v.code};
    }
}

// The look-up table covers the shortest kTableBits or fewer bits; each tree
// node at that depth gets a second-level table of up to kSubTableBits, and
// only codes longer than both walk the tree. False when memory ran out.
bool EntropyCoder::BuildTable() noexcept {
    tableBits_ = SubtreeDepth(0, kTableBits);
    const uint32_t size = uint32_t(1) << tableBits_;
    if (!newArray(table_, size)) return false;
    FillTable(table_, tableBits_, 0);

    // A node at the table's full depth owns exactly one entry.
    size_t subtableEntries = 0;
    for (uint32_t index = 0; index < size; ++index)
        if (table_[index].kind == kWalk) subtableEntries += size_t(1) << SubtreeDepth(table_[index].value, kSubTableBits);
    if (subtableEntries != 0) {
        if (!newArray(subtables_, subtableEntries)) return false;
        size_t at = 0;
        for (uint32_t index = 0; index < size; ++index) {
            TableEntry& link = table_[index];
            if (link.kind != kWalk) continue;
            const unsigned bits = SubtreeDepth(link.value, kSubTableBits);
            FillTable(subtables_ + at, bits, link.value);
            link.kind = kSubTable;
            link.value = static_cast<int32_t>(at);
            link.second = static_cast<int32_t>(bits);
            at += size_t(1) << bits;
        }
    }

    if (!newArray(runs_, size) || !newArray(runLengths_, size)) return false;
    FillRunTable();
    return true;
}

// What the expansion writes for each index: the codes that lie whole
// within the index's bits, as many as a step holds (at least the first,
// unless it is slow).
void EntropyCoder::FillRunTable() noexcept {
    const uint32_t size = uint32_t(1) << tableBits_;
    for (uint32_t index = 0; index < size; ++index) {
        RunEntry& run = runs_[index];
        run = RunEntry{};
        unsigned length = 0, cells = 0, lead = 0;
        bool literal = false;
        uint32_t value = 0;  // the value a run repeats (none before the first literal)
        for (const TableEntry* code = &table_[index]; code->kind == kToken && length + code->length <= tableBits_;
             code = &table_[index >> length]) {
            const int32_t token = code->value;
            const uint64_t copies = token >= 0 ? 1 : uint64_t(0) - static_cast<uint64_t>(int64_t{token});
            if (copies > kStepCells - cells) break;
            if (token >= 0) {
                value = static_cast<uint32_t>(token);
                literal = true;
            } else if (!literal) {
                lead += static_cast<unsigned>(copies);
            }
            for (uint64_t c = 0; c < copies; ++c) run.value[cells++] = value;
            length += code->length;
        }
        if (length == 0) {
            runLengths_[index] = kSlowCode;
            continue;
        }
        for (unsigned c = cells; c < kStepCells; ++c) run.value[c] = value;
        run.last = value;
        run.lead = static_cast<uint8_t>(lead);
        run.cells = static_cast<uint8_t>(cells);
        runLengths_[index] = static_cast<uint8_t>(length | (literal ? 0 : kRunsOnly));
    }
    runBase_ = 0;
}

// The values of runs_ include the expansion's base: moves them to another.
void EntropyCoder::RebaseRunTable(uint32_t base) noexcept {
    const uint32_t size = uint32_t(1) << tableBits_;
    const uint32_t shift = base - runBase_;
    for (uint32_t index = 0; index < size; ++index) {
        for (uint32_t& value : runs_[index].value) value += shift;
        runs_[index].last += shift;
    }
    runBase_ = base;
}

// --- Decoding

// A code longer than the table: consume the table's bits, look up the
// next ones in the node's second-level table, and walk the tree one bit at
// a time from where that ends. Children always have higher indices, so the
// walk ends. The token includes the block's smallest token M.
uint32_t EntropyCoder::ReadSymbolSlow(BitReader& in, const Codes& codes, const TableEntry& first) noexcept {
    in.Consume(first.length);
    const TableEntry* entry = &first;
    if (entry->kind == kSubTable) {
        if (in.avail < kSubTableBits) in.Refill();
        entry = &codes.subtables[static_cast<uint32_t>(entry->value) + (in.bits & LowMask(static_cast<unsigned>(entry->second)))];
        in.Consume(entry->length);
        if (entry->kind == kToken) return static_cast<uint32_t>(entry->value);
    }
    int32_t node = entry->value;
    while (codes.tree[node].child0 != 0) {
        if (in.avail == 0) in.Refill();
        const unsigned bit = static_cast<unsigned>(in.bits & 1);
        in.Consume(1);
        node = bit ? codes.tree[node].child1 : codes.tree[node].child0;
    }
    return static_cast<uint32_t>(codes.tree[node].value) + codes.offset;
}

// The next token of the block from the bits buffered in `in` (at least one
// code's worth unless the code is longer than the table, whose walk refills
// by itself and may leave the buffer empty). The fields come in a local
// copy: the output may alias anything, and members would be reloaded after
// every store.
template <bool Direct>
inline uint32_t EntropyCoder::NextToken(BitReader& in, const Codes& codes) noexcept {
    if (Direct) {
        const uint32_t token = static_cast<uint32_t>(in.bits & codes.mask) + codes.offset;
        in.Consume(codes.width);
        return token;
    }
    const TableEntry& entry = codes.table[in.bits & codes.mask];
    if (entry.kind == kToken) [[likely]] {
        in.Consume(entry.length);
        return static_cast<uint32_t>(entry.value);
    }
    // A copy, so that `in` itself never escapes and stays in registers.
    BitReader walk = in;
    const uint32_t token = ReadSymbolSlow(walk, codes, entry);
    in = walk;
    return token;
}

EntropyCoder::Codes EntropyCoder::CurrentCodes() const noexcept {
    Codes codes;
    codes.table = table_;
    codes.subtables = subtables_;
    codes.runs = runs_;
    codes.runLengths = runLengths_;
    codes.tree = tree_;
    codes.offset = static_cast<uint32_t>(offset_);
    codes.width = direct_ ? static_cast<unsigned>(count_) : tableBits_;
    codes.mask = LowMask(codes.width);
    return codes;
}

bool EntropyCoder::DecodeTokenChecked(int32_t& token) noexcept {
    in_.Refill();
    const Codes codes = CurrentCodes();
    token = static_cast<int32_t>(direct_ ? NextToken<true>(in_, codes) : NextToken<false>(in_, codes));
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

namespace {

using Quad = int32_t __attribute__((vector_size(16)));

inline void StoreQuad(AliasedInt32* to, Quad quad) noexcept { std::memcpy(to, &quad, 16); }

// Writes `copies` copies of value at to. Long runs (empty space) are most
// of a grid's values: 64 bytes a turn, and the end of the run as one last
// store that overlaps what is written, instead of loops that mispredict.
inline void FillValue(AliasedInt32* to, size_t copies, uint32_t value) noexcept {
    const auto v = static_cast<int32_t>(value);
    const Quad quad = {v, v, v, v};
    if (copies >= 16) {
        for (size_t c = 0; c + 16 < copies; c += 16) {
            StoreQuad(to + c, quad);
            StoreQuad(to + c + 4, quad);
            StoreQuad(to + c + 8, quad);
            StoreQuad(to + c + 12, quad);
        }
        AliasedInt32* const end = to + copies;
        StoreQuad(end - 16, quad);
        StoreQuad(end - 12, quad);
        StoreQuad(end - 8, quad);
        StoreQuad(end - 4, quad);
        return;
    }
    if (copies >= 4) {
        for (size_t c = 0; c + 4 < copies; c += 4) StoreQuad(to + c, quad);
        StoreQuad(to + copies - 4, quad);
        return;
    }
    for (size_t c = 0; c < copies; ++c) to[c] = v;
}

// The kStepCells values of one look-up: the previous value in the lanes
// below run.lead, the table's values above, chosen with masks.
template <class Run>
inline void StoreStep(AliasedInt32* to, const Run& run, uint32_t previous) noexcept {
    const auto p = static_cast<int32_t>(previous);
    const Quad previousQuad = {p, p, p, p};
    const int32_t lead = run.lead;
    const Quad leadQuad = {lead, lead, lead, lead};
    for (int32_t q = 0; q < static_cast<int32_t>(sizeof run.value / 16); ++q) {
        Quad values;
        std::memcpy(&values, run.value + 4 * q, 16);
        const Quad lanes = {4 * q, 4 * q + 1, 4 * q + 2, 4 * q + 3};
        const Quad previousLanes = lanes < leadQuad;  // all ones where the previous value goes
        StoreQuad(to + 4 * q, values ^ ((values ^ previousQuad) & previousLanes));
    }
}

// Where the expansion stands: the next value's index, the last value, and
// the copies a run still owes when the output filled up.
struct Expansion {
    AliasedInt32* out;
    size_t count;
    size_t i;
    uint32_t last;
    uint32_t base;
    uint64_t pending;

    // One token with exact bounds.
    void Exact(uint32_t token) noexcept {
        if (static_cast<int32_t>(token) >= 0) {
            last = token + base;
            out[i++] = static_cast<int32_t>(last);
            return;
        }
        const uint64_t copies = uint64_t(0) - static_cast<uint64_t>(int64_t{static_cast<int32_t>(token)});
        Run(copies, 0);
    }

    // `copies` copies of last, of which `written` are stored already.
    void Run(uint64_t copies, size_t written) noexcept {
        const size_t room = count - i;
        const size_t fill = copies < room ? static_cast<size_t>(copies) : room;
        if (fill > written) FillValue(out + i + written, fill - written, last);
        i += fill;
        pending = copies - fill;
    }

    // One token with at least kSpan values of room, stored without a branch
    // on its kind: a value, or a run of up to kSpan copies of the previous
    // one, goes out as two quads of the same number (the surplus is
    // overwritten by what follows), chosen with masks, since a condition on
    // the token's sign compiles to a branch that mispredicts on most runs.
    // A token with `take` 0 stores only surplus. Returns the token's copies
    // when they exceed kSpan (nothing advanced yet), else 0.
    static constexpr size_t kSpan = 8;
    uint64_t Fast(uint32_t token, uint64_t take) noexcept {
        const auto signed64 = static_cast<uint64_t>(int64_t{static_cast<int32_t>(token)});
        const uint64_t runMask = static_cast<uint64_t>(static_cast<int64_t>(signed64) >> 63);
        const auto keep = static_cast<uint32_t>(runMask | ~take);  // the value stays the last one
        const uint32_t value = (last & keep) | ((token + base) & ~keep);
        const uint64_t copies = (((uint64_t(0) - signed64) & runMask) | (~runMask & 1)) & take;
        const auto v = static_cast<int32_t>(value);
        const Quad quad = {v, v, v, v};
        StoreQuad(out + i, quad);
        StoreQuad(out + i + 4, quad);
        last = value;
        if (copies > kSpan) [[unlikely]]
            return copies;
        i += static_cast<size_t>(copies);
        return 0;
    }
};

}  // namespace

// The hot loop. Codes are read in groups from one refill of the bit buffer
// (56+ bits hold four look-ups of the table or four fields of up to 14 bits;
// wider fields go one by one), so the refill's load is off the path from one
// look-up to the next; a look-up of the coded form yields up to three
// tokens. The end of the input is only noticed through the zero bits fed
// past it (PastEnd), once per group: a group that ran past it fails the
// block, whatever it wrote. The last few values are written one token at a
// time.
template <bool Direct, unsigned Group>
bool EntropyCoder::ExpandLoop(AliasedInt32* out, size_t count, size_t slack) noexcept {
    Expansion e{out, count, 0, last_, base_, pendingRun_};
    if (e.pending != 0) e.Run(e.pending, 0);
    if (!haveLast_ && e.i < count) {
        // The block's first token must be a value: a run has nothing to repeat.
        int32_t token = 0;
        if (!DecodeTokenChecked(token) || token < 0) return false;
        e.Exact(static_cast<uint32_t>(token));
        haveLast_ = true;
    }

    const Codes codes = CurrentCodes();
    BitReader in = in_;
    bool ok = true;
    if constexpr (Direct) {
        // Room for a whole group: each token advances by at most kSpan
        // unless it is a long run, which ends the group.
        while (count - e.i >= Group * Expansion::kSpan) {
            in.Refill();
#pragma GCC unroll 4
            for (unsigned r = 0; r < Group; ++r) {
                const uint32_t token = NextToken<Direct>(in, codes);
                if (const uint64_t copies = e.Fast(token, ~uint64_t(0))) {
                    e.Run(copies, Expansion::kSpan);
                    break;
                }
            }
            if (in.PastEnd()) [[unlikely]] {
                ok = false;
                break;
            }
        }
    } else {
        AliasedInt32* const to = e.out;
        size_t i = e.i;
        uint32_t last = e.last;
        // A look-up advances by at most kStepCells values and stores that
        // many from where it starts: it needs that room before out + count,
        // less the slack after it.
        const size_t storeRoom = slack >= kStepCells ? 0 : kStepCells - slack;
        enum Step { kNext, kEndGroup, kStop };
        auto step = [&]() {
            const auto index = static_cast<uint32_t>(in.bits & codes.mask);
            const unsigned length = codes.runLengths[index];
            if (length & kSlowCode) [[unlikely]] {
                // A code longer than the table, or a longer run: this token
                // alone, exactly; the walk may use up the buffered bits.
                if (i == count) return kStop;
                const uint32_t token = NextToken<false>(in, codes);
                e.i = i;
                e.last = last;
                e.Exact(token);
                i = e.i;
                last = e.last;
                return kEndGroup;
            }
            const RunEntry& run = codes.runs[index];
            if (count - i < std::max<size_t>(run.cells, storeRoom)) return kStop;
            in.Consume(length & kLengthBits);
            StoreStep(to + i, run, last);
            i += run.cells;
            const uint32_t keep = 0u - ((length & kRunsOnly) >> 6);
            last = (last & keep) | (run.last & ~keep);
            return kNext;
        };
        for (Step s = kNext; s != kStop;) {
            in.Refill();
#pragma GCC unroll 4
            for (unsigned r = 0; r < Group; ++r)
                if ((s = step()) != kNext) break;
            if (in.PastEnd()) [[unlikely]] {
                ok = false;
                break;
            }
        }
        e.i = i;
        e.last = last;
    }
    while (ok && e.i < count) {
        in.Refill();
        const uint32_t token = NextToken<Direct>(in, codes);
        if (in.PastEnd()) {
            ok = false;
            break;
        }
        e.Exact(token);
    }
    in_ = in;
    last_ = e.last;
    pendingRun_ = e.pending;
    return ok;
}

bool EntropyCoder::BeginExpand(size_t total, int32_t base) noexcept {
    if (!ready_ || failed_) return false;
    expandLeft_ = total;
    pendingRun_ = 0;
    haveLast_ = false;
    base_ = static_cast<uint32_t>(base);
    if (runs_ != nullptr && base_ != runBase_) RebaseRunTable(base_);
    return true;
}

bool EntropyCoder::ExpandNext(AliasedInt32* out, size_t count, size_t slack) noexcept {
    if (!ready_ || failed_ || count > expandLeft_ || (out == nullptr && count != 0)) return false;
    if (count == 0) return true;
    static_assert(4 * kTableBits <= 56, "a group of table codes must fit one refill");
    static_assert(kStepCells % 4 == 0 && kStepCells <= kExpandSlack, "a look-up stores kStepCells values");
    static_assert(kTableBits <= kLengthBits && kRunsOnly >> 6 == 1, "the length byte's fields");
    const bool ok = !direct_       ? ExpandLoop<false, 4>(out, count, slack)
                    : count_ <= 14 ? ExpandLoop<true, 4>(out, count, slack)
                                   : ExpandLoop<true, 1>(out, count, slack);
    if (!ok) {
        failed_ = true;
        return false;
    }
    expandLeft_ -= count;
    if (expandLeft_ == 0 && pendingRun_ != 0) {
        // The run reaches past the values asked for: the output is full.
        LogPrint("DecodeAndExpand - constant sequence longer than expected\n");
        pendingRun_ = 0;
    }
    return true;
}

bool EntropyCoder::DecodeAndExpand(AliasedInt32* out, size_t count, int32_t base) noexcept {
    if (out == nullptr && count != 0) return false;
    return BeginExpand(count, base) && ExpandNext(out, count);
}
