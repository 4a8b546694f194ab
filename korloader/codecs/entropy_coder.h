// EntropyCoder: decoder of the program's entropy-coded token blocks.
//
// A block is a bit string (least significant bit of each byte first) holding
// signed 32-bit tokens, either each in W bits (direct form) or as prefix
// codes over a symbol table (coded form); the code tree is rebuilt from the
// table by weight-median halving. A negative token -k met by DecodeAndExpand
// stands for k more copies of the previous value.
//
// The decoder is bounded: it is told where its input ends, refuses tables the
// input cannot hold, and fails instead of reading past the end. Each user
// owns its own object; one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>

// An int32 that may live in memory allocated as another type: the
// sparse-grid decoder expands tokens into float arrays (flat streams and
// rows longer than its staging buffer) and converts them in place.
using AliasedInt32 = int32_t __attribute__((may_alias));

class EntropyCoder {
public:
    EntropyCoder() noexcept = default;
    ~EntropyCoder();
    EntropyCoder(const EntropyCoder&) = delete;
    EntropyCoder& operator=(const EntropyCoder&) = delete;

    // Reads the block header at source (sourceSize bytes available) and, in
    // the coded form, its table, and rebuilds the code tree. `tokenLimit` is
    // the most tokens the caller will ask for: a table with more entries than
    // that cannot belong to a valid block. False when the block cannot be
    // decoded (bad header or table, or memory ran out: logged).
    bool InitDecoder(const uint8_t* source, size_t sourceSize, size_t tokenLimit = SIZE_MAX) noexcept;

    // Fills exactly count values: each token t >= 0 gives t + base (32-bit
    // wrap-around); a token -k repeats the previous value k times. A run that
    // reaches past count is cut and logged (still true: the output is full).
    // False when the block is not initialised, a code runs past the input, or
    // the first token is a run marker.
    bool DecodeAndExpand(AliasedInt32* out, size_t count, int32_t base) noexcept;

    // The same expansion in pieces, for a caller that consumes the values a
    // few rows at a time: BeginExpand(total, base), then ExpandNext calls
    // whose counts add up to total. A run may cross from one piece into the
    // next; only one reaching past the total is cut and logged.
    bool BeginExpand(size_t total, int32_t base) noexcept;
    // `slack` values after out + count may be overwritten with scratch
    // values: with kExpandSlack of them, the expansion runs at full speed
    // up to the end of the piece.
    static constexpr size_t kExpandSlack = 32;
    bool ExpandNext(AliasedInt32* out, size_t count, size_t slack = 0) noexcept;

    // One token (symbol + M), without run expansion or base. After a failure
    // (no block, input exhausted) it returns 0 and Failed() turns true.
    int32_t DecodeOne() noexcept;
    bool Failed() const noexcept { return failed_; }

    // Bytes of the input that the decoded bits touched so far.
    size_t BytesConsumed() const noexcept;

    // Codes up to this many bits are decoded with one table look-up; longer
    // ones continue in the tree. The tables of 2^11 entries (12 bytes to
    // decode one code, 40 to expand up to kStepCells values, 1 for the
    // length) take 106 KiB; 12 bits measured no faster.
    static constexpr unsigned kTableBits = 11;

private:
    struct SymbolCount {
        int32_t symbol;
        int32_t count;
    };
    // child0 == 0 marks a leaf (the root, node 0, is nobody's child); a
    // leaf's value is its symbol, an internal node's the srt index at which
    // its right part begins.
    struct Node {
        int32_t value;
        int32_t child0;
        int32_t child1;
    };
    // A look-up result for the next kTableBits (or fewer) bits. kind
    // kToken: the token of the code and its length. kind kSubTable (codes
    // longer than the table): `value` is where the second-level table for
    // the following `second` bits starts. kind kWalk: `value` is the tree
    // node from which the walk continues.
    enum EntryKind : uint8_t { kToken = 0, kSubTable = 1, kWalk = 2 };
    struct TableEntry {
        int32_t value;
        int32_t second;
        uint8_t length;
        uint8_t kind;
    };
    // What the expansion writes for the next kTableBits bits: the whole
    // codes that lie within them, as long as their values fit kStepCells.
    // First `lead` copies of the previous value (runs), then value[lead] up
    // to value[cells - 1]. A look-up stores all kStepCells lanes at once,
    // the previous value in the lanes below `lead`; what it stores past
    // `cells` is overwritten by what follows. `last` is the value of the
    // last literal. Values include the expansion's base.
    static constexpr unsigned kStepCells = 8;
    struct RunEntry {
        uint32_t value[kStepCells];
        uint32_t last;
        uint8_t lead;
        uint8_t cells;
    };
    // The byte per index that the look-up chain loads: the bits to consume
    // (low 6 bits), kRunsOnly when the codes are all runs (the previous
    // value stays the last one), and kSlowCode when the first code is
    // longer than the table or a run longer than a step, to be decoded on
    // its own.
    static constexpr uint8_t kLengthBits = 0x3F;
    static constexpr uint8_t kRunsOnly = 0x40;
    static constexpr uint8_t kSlowCode = 0x80;
    // Bits of a second-level table: with the first level, codes of up to
    // 19 bits take at most two look-ups.
    static constexpr unsigned kSubTableBits = 8;

    // Input and bit buffer: bits holds `avail` unread bits, next bit lowest.
    // Past the end the buffer is fed zero bits, counted in `overrun`, so the
    // hot loop needs no end test; a code that used them fails the block.
    // The hot loop works on a local copy, which the compiler can keep in
    // registers although the output it writes may alias anything.
    struct BitReader {
        const uint8_t* begin = nullptr;
        const uint8_t* next = nullptr;
        const uint8_t* end = nullptr;
        uint64_t totalBits = 0;
        uint64_t bits = 0;
        unsigned avail = 0;
        uint64_t overrun = 0;

        inline void Refill() noexcept;  // at least 56 bits buffered afterwards
        inline uint64_t Read(unsigned n) noexcept;  // n <= 32
        inline void Consume(unsigned n) noexcept {
            bits >>= n;
            avail -= n;
        }
        uint64_t ConsumedBits() const noexcept {
            return static_cast<uint64_t>(next - begin) * 8 + overrun - avail;
        }
        bool PastEnd() const noexcept { return overrun != 0 && ConsumedBits() > totalBits; }
    };

    void Release() noexcept;
    bool BuildTree(int64_t totalWeight) noexcept;
    bool BuildTable() noexcept;
    unsigned SubtreeDepth(int32_t root, unsigned limit) const noexcept;
    void FillTable(TableEntry* to, unsigned bits, int32_t root) const noexcept;
    void FillRunTable() noexcept;
    void RebaseRunTable(uint32_t base) noexcept;
    // What decoding a token needs, copied out of the object for the hot loop.
    struct Codes {
        const TableEntry* table;
        const TableEntry* subtables;
        const RunEntry* runs;
        const uint8_t* runLengths;
        const Node* tree;
        uint64_t mask;   // low `width` bits
        unsigned width;  // direct form: the field width; coded form: the table's bits
        uint32_t offset;
    };
    Codes CurrentCodes() const noexcept;
    static uint32_t ReadSymbolSlow(BitReader& in, const Codes& codes, const TableEntry& entry) noexcept;
    template <bool Direct>
    static inline uint32_t NextToken(BitReader& in, const Codes& codes) noexcept;
    bool DecodeTokenChecked(int32_t& token) noexcept;
    template <bool Direct, unsigned Group>
    bool ExpandLoop(AliasedInt32* out, size_t count, size_t slack) noexcept;

    // Block fields.
    int32_t count_ = 0;   // coded form: table entries n; direct form: width W
    int32_t offset_ = 0;  // smallest token M
    SymbolCount* srt_ = nullptr;
    Node* tree_ = nullptr;
    TableEntry* table_ = nullptr;
    TableEntry* subtables_ = nullptr;
    // The expansion's view of the table: what each index writes, and apart
    // from that its length byte, so that the look-up chain loads one byte.
    RunEntry* runs_ = nullptr;
    uint8_t* runLengths_ = nullptr;
    uint32_t runBase_ = 0;  // the base included in runs_
    unsigned tableBits_ = 0;
    bool ready_ = false;
    bool direct_ = false;
    bool failed_ = false;

    // Expansion state between pieces.
    size_t expandLeft_ = 0;     // values still to be asked for
    uint64_t pendingRun_ = 0;   // copies of last_ that a run still owes
    uint32_t last_ = 0;         // the last value written
    bool haveLast_ = false;     // false until the first value: a run cannot come first
    uint32_t base_ = 0;

    BitReader in_;
};
