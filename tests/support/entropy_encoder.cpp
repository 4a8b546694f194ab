#include "support/entropy_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace KorTest {

void BitWriter::Put(uint64_t value, unsigned bits) {
    if (bits < 64) value &= (uint64_t(1) << bits) - 1;
    while (bits > 0) {
        const unsigned used = static_cast<unsigned>(bitCount_ % 8);
        if (used == 0) bytes_.push_back(0);
        const unsigned take = std::min(8 - used, bits);
        bytes_.back() = static_cast<uint8_t>(bytes_.back() | ((value & ((1u << take) - 1)) << used));
        value >>= take;
        bits -= take;
        bitCount_ += take;
    }
}

std::vector<uint8_t> BitWriter::Bytes(size_t align) const {
    std::vector<uint8_t> out = bytes_;
    while (align > 1 && out.size() % align != 0) out.push_back(0);
    return out;
}

namespace {

unsigned BitsFor(uint64_t value) {
    unsigned bits = 0;
    while (bits < 64 && (value >> bits) != 0) ++bits;
    return bits;
}

void Split(const std::vector<int64_t>& counts, size_t first, size_t m, int64_t total, PrefixCode prefix,
           std::vector<PrefixCode>& codes) {
    if (m == 1) {
        codes[first] = prefix;
        return;
    }
    const int64_t h = total / 2;
    int64_t sum = 0;
    size_t i = 0;
    for (; i < m; ++i) {
        sum += counts[first + i];
        if (sum >= h) break;
    }
    const int64_t before = sum - counts[first + i];
    const size_t left = h - before < sum - h ? i : i + 1;
    const int64_t leftWeight = h - before < sum - h ? before : sum;
    if (left == 0 || left >= m || prefix.length >= 64) std::abort();  // counts must be >= 1
    PrefixCode zero = prefix, one = prefix;
    zero.length = one.length = prefix.length + 1;
    one.bits |= uint64_t(1) << prefix.length;
    Split(counts, first, left, leftWeight, zero, codes);
    Split(counts, first + left, m - left, total - leftWeight, one, codes);
}

}  // namespace

std::vector<PrefixCode> AssignCodes(const std::vector<int64_t>& counts) {
    std::vector<PrefixCode> codes(counts.size());
    if (counts.empty()) return codes;
    int64_t total = 0;
    for (int64_t c : counts) total += c;
    Split(counts, 0, counts.size(), total, PrefixCode{}, codes);
    return codes;
}

std::vector<int32_t> Tokenize(const int32_t* values, size_t count, size_t minRun) {
    std::vector<int32_t> tokens;
    if (minRun < 2) minRun = 2;
    size_t i = 0;
    while (i < count) {
        size_t r = 1;
        while (i + r < count && values[i + r] == values[i]) ++r;
        tokens.push_back(values[i]);
        if (r >= minRun) {
            size_t more = r - 1;
            while (more > 0) {
                const size_t chunk = std::min<size_t>(more, size_t(1) << 31);
                tokens.push_back(static_cast<int32_t>(-static_cast<int64_t>(chunk)));
                more -= chunk;
            }
        } else {
            for (size_t k = 1; k < r; ++k) tokens.push_back(values[i]);
        }
        i += r;
    }
    return tokens;
}

std::vector<TableEntry> BuildTable(const std::vector<int32_t>& tokens) {
    if (tokens.empty()) return {};
    const int32_t m = *std::min_element(tokens.begin(), tokens.end());
    std::vector<uint32_t> symbols;
    symbols.reserve(tokens.size());
    for (int32_t t : tokens) symbols.push_back(static_cast<uint32_t>(t) - static_cast<uint32_t>(m));
    std::sort(symbols.begin(), symbols.end());
    std::vector<TableEntry> table;
    for (size_t i = 0; i < symbols.size();) {
        size_t j = i;
        while (j < symbols.size() && symbols[j] == symbols[i]) ++j;
        table.push_back(TableEntry{symbols[i], static_cast<int64_t>(j - i)});
        i = j;
    }
    std::stable_sort(table.begin(), table.end(),
                     [](const TableEntry& a, const TableEntry& b) { return a.count > b.count; });
    return table;
}

std::vector<uint8_t> EncodeEntropyBlock(const std::vector<int32_t>& tokens, EntropyForm form) {
    const int32_t m = tokens.empty() ? 0 : *std::min_element(tokens.begin(), tokens.end());
    uint32_t maxSymbol = 0;
    for (int32_t t : tokens) maxSymbol = std::max(maxSymbol, static_cast<uint32_t>(t) - static_cast<uint32_t>(m));

    // Direct form.
    BitWriter direct;
    {
        const unsigned width = std::max(1u, BitsFor(maxSymbol));
        direct.Put(width, 8);
        direct.Put(static_cast<uint32_t>(m), 32);
        for (int32_t t : tokens) direct.Put(static_cast<uint32_t>(t) - static_cast<uint32_t>(m), width);
    }
    if (form == EntropyForm::Direct || tokens.empty()) return direct.Bytes();

    // Coded form.
    const std::vector<TableEntry> table = BuildTable(tokens);
    std::vector<int64_t> counts;
    int64_t maxCount = 0;
    for (const TableEntry& e : table) {
        counts.push_back(e.count);
        maxCount = std::max(maxCount, e.count);
    }
    const std::vector<PrefixCode> codes = AssignCodes(counts);
    // Code of each symbol: a direct index when the symbols are few and small.
    std::vector<PrefixCode> codeByIndex;
    std::map<uint32_t, PrefixCode> codeBySymbol;
    const bool indexed = maxSymbol < std::max<size_t>(size_t(1) << 16, 4 * tokens.size());
    if (indexed) codeByIndex.resize(size_t(maxSymbol) + 1);
    for (size_t e = 0; e < table.size(); ++e) {
        if (indexed)
            codeByIndex[table[e].symbol] = codes[e];
        else
            codeBySymbol[table[e].symbol] = codes[e];
    }

    BitWriter coded;
    const unsigned countBits = std::max(1u, BitsFor(static_cast<uint64_t>(maxCount)));
    const unsigned symbolBits = std::max(1u, BitsFor(maxSymbol));
    coded.Put(0, 8);
    coded.Put(table.size(), 32);
    coded.Put(static_cast<uint32_t>(m), 32);
    coded.Put(countBits, 6);
    coded.Put(symbolBits, 6);
    int64_t previous = 0;
    for (const TableEntry& e : table) {
        const bool newCount = e.count != previous;
        coded.Put(newCount ? 1 : 0, 1);
        if (newCount) coded.Put(static_cast<uint64_t>(e.count), countBits);
        coded.Put(e.symbol, symbolBits);
        previous = e.count;
    }
    for (int32_t t : tokens) {
        const uint32_t symbol = static_cast<uint32_t>(t) - static_cast<uint32_t>(m);
        const PrefixCode& c = indexed ? codeByIndex[symbol] : codeBySymbol[symbol];
        coded.Put(c.bits, c.length);
    }
    if (form == EntropyForm::Coded || coded.BitCount() < direct.BitCount()) return coded.Bytes();
    return direct.Bytes();
}

}  // namespace KorTest
