// Test encoder of entropy-coded token blocks: the writing side of the
// library's EntropyCoder, built from the block layout alone.
//
// Bits are written least significant first; bit i of a block is bit i % 8 of
// byte i / 8. A block starts with an 8-bit header H: 1..32 is the direct form
// (M in 32 bits, then every token - M in H bits); 0 is the coded form (n, M,
// R, S, n table entries "flag, [count in R bits], symbol in S bits", then the
// prefix code of every token). Blocks are padded to whole 32-bit words.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace KorTest {

// Appends bit fields least significant bit first.
class BitWriter {
public:
    void Put(uint64_t value, unsigned bits);
    size_t BitCount() const { return bitCount_; }
    // The bytes so far, zero-padded to a multiple of `align` bytes.
    std::vector<uint8_t> Bytes(size_t align = 4) const;

private:
    std::vector<uint8_t> bytes_;
    size_t bitCount_ = 0;
};

enum class EntropyForm { Auto, Direct, Coded };

// A prefix code: `length` decisions, the first in bit 0.
struct PrefixCode {
    uint64_t bits = 0;
    unsigned length = 0;
};

// Codes of the table entries with these counts (in table order), by the
// decoder's rule: split each run of entries where the running count sum
// first reaches h = floor(T / 2) (entry i, sums P before and S with it);
// the left part takes i entries if h - P < S - h, else i + 1; left is bit 0.
std::vector<PrefixCode> AssignCodes(const std::vector<int64_t>& counts);

// Values (each >= 0) to tokens: a run of r >= minRun equal values becomes the
// value followed by the run marker -(r - 1); runs longer than 2^31 are split.
std::vector<int32_t> Tokenize(const int32_t* values, size_t count, size_t minRun = 2);

// Table order of the coded form: symbols by falling count, then by value.
struct TableEntry {
    uint32_t symbol;
    int64_t count;
};
std::vector<TableEntry> BuildTable(const std::vector<int32_t>& tokens);

// Encodes tokens into a block. Auto picks the shorter form. An empty token
// list gives a direct block of width 1 with M = 0.
std::vector<uint8_t> EncodeEntropyBlock(const std::vector<int32_t>& tokens, EntropyForm form = EntropyForm::Auto);

}  // namespace KorTest
