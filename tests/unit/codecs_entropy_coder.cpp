// EntropyCoder: fixed byte sequences, the tree split rule, round trips
// through the test encoder in both forms, and hostile blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <random>
#include <vector>

#include "codecs/entropy_coder.h"
#include "log_capture.h"
#include "support/entropy_encoder.h"
#include "util/alloc.h"

namespace {

using KorTest::BitWriter;
using KorTest::EncodeEntropyBlock;
using KorTest::EntropyForm;

const char kLongRun[] = "DecodeAndExpand - constant sequence longer than expected\n";

std::vector<int32_t> Decode(const std::vector<uint8_t>& block, size_t count, int32_t base = 0, bool* ok = nullptr) {
    EntropyCoder coder;
    std::vector<int32_t> out(count, 0x5A5A5A5A);
    bool good = coder.InitDecoder(block.data(), block.size()) && coder.DecodeAndExpand(out.data(), count, base);
    if (ok != nullptr) *ok = good;
    return out;
}

// What DecodeAndExpand must make of a token list.
std::vector<int32_t> Expand(const std::vector<int32_t>& tokens, size_t count, int32_t base) {
    std::vector<int32_t> out;
    for (int32_t t : tokens) {
        if (out.size() == count) break;
        if (t >= 0) {
            out.push_back(static_cast<int32_t>(static_cast<uint32_t>(t) + static_cast<uint32_t>(base)));
        } else {
            const int64_t k = -static_cast<int64_t>(t);
            for (int64_t c = 0; c < k && out.size() < count; ++c) out.push_back(out.back());
        }
    }
    return out;
}

// A coded-form block with the given table and raw code bits (bit strings,
// first decision first).
std::vector<uint8_t> CodedBlock(int32_t m, const std::vector<std::pair<uint32_t, uint32_t>>& table,
                                const std::vector<std::string>& codes, unsigned r = 8, unsigned s = 8) {
    BitWriter w;
    w.Put(0, 8);
    w.Put(table.size(), 32);
    w.Put(static_cast<uint32_t>(m), 32);
    w.Put(r, 6);
    w.Put(s, 6);
    for (const auto& [symbol, count] : table) {
        w.Put(1, 1);
        w.Put(count, r);
        w.Put(symbol, s);
    }
    for (const std::string& code : codes)
        for (char c : code) w.Put(c == '1', 1);
    return w.Bytes();
}

TEST(EntropyCoderVectors, DirectFormWidthTwo) {
    const std::vector<uint8_t> block = {0x02, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00};
    EXPECT_EQ(Decode(block, 4), (std::vector<int32_t>{0, 0, 0, 1}));
}

TEST(EntropyCoderVectors, CodedFormSingleEntryHasNoCodeBits) {
    const std::vector<uint8_t> block = {0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x47, 0x90, 0x0c};
    EXPECT_EQ(Decode(block, 100), std::vector<int32_t>(100, 5));
    EntropyCoder coder;
    ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(coder.DecodeOne(), 5);
    EXPECT_FALSE(coder.Failed());
}

TEST(EntropyCoderVectors, DirectFormNegativeOffsetGivesRunMarkers) {
    // W = 3, M = -4: fields 0..3 are the tokens -4..-1 (runs), 4 and up values.
    BitWriter w;
    w.Put(3, 8);
    w.Put(static_cast<uint32_t>(-4), 32);
    for (unsigned field : {6u, 3u, 5u, 0u, 4u}) w.Put(field, 3);  // 2, run 1, 1, run 4, 0
    const std::vector<uint8_t> block = w.Bytes();
    EXPECT_EQ(Decode(block, 8), (std::vector<int32_t>{2, 2, 1, 1, 1, 1, 1, 0}));
    EntropyCoder coder;
    ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
    EXPECT_EQ(coder.DecodeOne(), 2);
    EXPECT_EQ(coder.DecodeOne(), -1);
    EXPECT_EQ(coder.DecodeOne(), 1);
    EXPECT_EQ(coder.DecodeOne(), -4);
}

TEST(EntropyCoderTree, CountsFiveThreeTwo) {
    const auto codes = KorTest::AssignCodes({5, 3, 2});
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(codes[0].length, 1u);
    EXPECT_EQ(codes[0].bits, 0u);
    EXPECT_EQ(codes[1].length, 2u);
    EXPECT_EQ(codes[1].bits, 1u);  // 1 then 0
    EXPECT_EQ(codes[2].length, 2u);
    EXPECT_EQ(codes[2].bits, 3u);  // 1 then 1

    const auto block = CodedBlock(10, {{0, 5}, {1, 3}, {2, 2}}, {"11", "0", "10", "0"});
    EXPECT_EQ(Decode(block, 4), (std::vector<int32_t>{12, 10, 11, 10}));
}

TEST(EntropyCoderTree, TieTakesTheLongerLeftPart) {
    // Counts 3, 2, 2, 1: h = 4, reached at the second entry (P = 3, S = 5);
    // distances tie, so the left part is the first two entries.
    const auto codes = KorTest::AssignCodes({3, 2, 2, 1});
    for (size_t e = 0; e < 2; ++e) EXPECT_EQ(codes[e].bits & 1, 0u) << e;
    for (size_t e = 2; e < 4; ++e) EXPECT_EQ(codes[e].bits & 1, 1u) << e;
    // Inside each half (weights 5 and 3) the split again keeps the tie rule.
    const auto block = CodedBlock(0, {{7, 3}, {8, 2}, {9, 2}, {6, 1}}, {"00", "01", "10", "11"});
    EXPECT_EQ(Decode(block, 4), (std::vector<int32_t>{7, 8, 9, 6}));
}

TEST(EntropyCoderRuns, RunPastTheEndFillsTheOutputAndIsLogged) {
    LogCapture capture;
    const std::vector<int32_t> tokens = {3, -10};
    for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
        bool ok = false;
        EXPECT_EQ(Decode(EncodeEntropyBlock(tokens, form), 5, 1, &ok), std::vector<int32_t>(5, 4));
        EXPECT_TRUE(ok);
    }
    EXPECT_EQ(capture.Log(), (std::vector<std::string>{kLongRun, kLongRun}));
}

TEST(EntropyCoderRoundTrip, RandomTokenStreamsInBothForms) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 300; ++trial) {
        const size_t n = 1 + rng() % 3000;
        std::vector<int32_t> tokens;
        const int kind = trial % 5;
        for (size_t i = 0; i < n; ++i) {
            int32_t t;
            switch (kind) {
                case 0: t = static_cast<int32_t>(rng() % 4); break;                       // few symbols
                case 1: t = static_cast<int32_t>(std::geometric_distribution<int>(0.05)(rng)); break;  // skewed, long codes
                case 2: t = static_cast<int32_t>(rng() % 70000); break;                   // many symbols
                case 3: t = static_cast<int32_t>(rng() & 0x7FFFFFFF); break;              // full range
                default: t = static_cast<int32_t>(rng() % 9); break;
            }
            // Sprinkle run markers after the first value.
            if (i > 0 && rng() % 7 == 0) t = -static_cast<int32_t>(1 + rng() % 5);
            tokens.push_back(t);
        }
        const int32_t base = static_cast<int32_t>(rng());
        size_t values = Expand(tokens, SIZE_MAX, 0).size();
        for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded, EntropyForm::Auto}) {
            const std::vector<uint8_t> block = EncodeEntropyBlock(tokens, form);
            bool ok = false;
            ASSERT_EQ(Decode(block, values, base, &ok), Expand(tokens, values, base)) << trial;
            ASSERT_TRUE(ok);
            EntropyCoder coder;
            ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
            for (int32_t t : tokens) ASSERT_EQ(coder.DecodeOne(), t);
            ASSERT_FALSE(coder.Failed());
        }
    }
}

// Runs of every length, with codes longer than the look-up table mixed in,
// expanded at once and in pieces of every size: a run may cross any number
// of pieces, and only one reaching past the total is logged.
TEST(EntropyCoderRoundTrip, RunsOfAnyLengthInPiecesOfAnySize) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 30; ++trial) {
        std::vector<int32_t> tokens = {static_cast<int32_t>(rng() % 50)};
        for (int i = 0; i < 2000; ++i) {
            const unsigned kind = rng() % 10;
            if (kind < 3)
                tokens.push_back(-static_cast<int32_t>(1 + rng() % 40));
            else if (kind == 3 && rng() % 8 == 0)
                tokens.push_back(-static_cast<int32_t>(1 + rng() % 5000));
            else if (kind == 4)
                tokens.push_back(static_cast<int32_t>(std::geometric_distribution<int>(0.02)(rng)));
            else
                tokens.push_back(static_cast<int32_t>(rng() % 6));
        }
        // Every third block ends in a run longer than the values asked for.
        const bool longLast = trial % 3 == 0;
        if (longLast) tokens.back() = -100000;
        const size_t all = Expand(tokens, SIZE_MAX, 0).size();
        const size_t total = longLast ? all - 1 - rng() % 5000 : all;
        const int32_t base = static_cast<int32_t>(rng() % 1000) - 500;
        const std::vector<int32_t> expected = Expand(tokens, total, base);
        for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
            const std::vector<uint8_t> block = EncodeEntropyBlock(tokens, form);
            LogCapture capture;
            bool ok = false;
            ASSERT_EQ(Decode(block, total, base, &ok), expected) << trial;
            ASSERT_TRUE(ok);
            // With slack, a piece may scribble over what follows it: the
            // next pieces, and then the slack after the last one, but no
            // further.
            for (size_t maxPiece : {size_t(1), size_t(7), size_t(64), size_t(4096)})
                for (size_t slackAfter : {size_t(0), EntropyCoder::kExpandSlack}) {
                    EntropyCoder coder;
                    ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
                    ASSERT_TRUE(coder.BeginExpand(total, base));
                    std::vector<int32_t> out(total + slackAfter + 16, 0x5A5A5A5A);
                    for (size_t at = 0; at < total;) {
                        const size_t piece = std::min<size_t>(total - at, 1 + rng() % maxPiece);
                        const size_t slack = slackAfter == 0 ? 0 : total - at - piece + slackAfter;
                        ASSERT_TRUE(coder.ExpandNext(out.data() + at, piece, slack)) << trial << " at " << at;
                        at += piece;
                    }
                    EXPECT_FALSE(coder.ExpandNext(out.data(), 1));  // nothing is left to ask for
                    for (size_t i = total + slackAfter; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5A5A5A5A);
                    out.resize(total);
                    ASSERT_EQ(out, expected) << trial << " pieces up to " << maxPiece << " slack " << slackAfter;
                }
            EXPECT_EQ(capture.Log().size(), longLast ? 9u : 0u);
        }
    }
}

// Short codes are expanded two at a time when their values fit a few
// fixed-width stores: every pair of a value or a run of 1..10 (around the
// width of those stores, alone and summed) must expand as defined. A second
// expansion from the same decoder continues the codes with its own base.
TEST(EntropyCoderRoundTrip, PairsOfValuesAndRunsAroundTheStoreWidth) {
    std::vector<int32_t> kinds = {0, 1, 2};
    for (int32_t k = 1; k <= 10; ++k) kinds.push_back(-k);
    std::vector<int32_t> tokens = {1};
    for (int repeat = 0; repeat < 3; ++repeat)
        for (int32_t a : kinds)
            for (int32_t b : kinds) {
                tokens.push_back(a);
                tokens.push_back(b);
            }
    // The second call starts at token m, a value, with another base.
    size_t m = tokens.size() / 2;
    while (tokens[m] < 0) ++m;
    std::vector<int32_t> expected;
    for (size_t t = 0; t < tokens.size(); ++t) {
        const uint32_t base = t < m ? 1000u : static_cast<uint32_t>(-7);
        if (tokens[t] >= 0)
            expected.push_back(static_cast<int32_t>(static_cast<uint32_t>(tokens[t]) + base));
        else
            expected.insert(expected.end(), static_cast<size_t>(-tokens[t]), expected.back());
    }
    const size_t first = Expand(std::vector<int32_t>(tokens.begin(), tokens.begin() + static_cast<ptrdiff_t>(m)),
                                SIZE_MAX, 0)
                             .size();
    for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
        const std::vector<uint8_t> block = EncodeEntropyBlock(tokens, form);
        EntropyCoder coder;
        ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
        std::vector<int32_t> out(expected.size());
        ASSERT_TRUE(coder.DecodeAndExpand(out.data(), first, 1000));
        ASSERT_TRUE(coder.DecodeAndExpand(out.data() + first, out.size() - first, -7));
        ASSERT_EQ(out, expected);
    }
}

TEST(EntropyCoderRoundTrip, CodesLongerThanTheLookUpTable) {
    // Doubling counts make one code per depth: lengths up to 24 bits.
    std::vector<int32_t> tokens;
    for (int s = 0; s < 24; ++s)
        for (int k = 0; k < (1 << (s / 2)); ++k) tokens.push_back(s);
    std::mt19937 rng(5);
    std::shuffle(tokens.begin(), tokens.end(), rng);
    const auto table = KorTest::BuildTable(tokens);
    std::vector<int64_t> counts;
    for (const auto& e : table) counts.push_back(e.count);
    unsigned longest = 0;
    for (const auto& c : KorTest::AssignCodes(counts)) longest = std::max(longest, c.length);
    EXPECT_GT(longest, EntropyCoder::kTableBits);
    bool ok = false;
    EXPECT_EQ(Decode(EncodeEntropyBlock(tokens, EntropyForm::Coded), tokens.size(), 0, &ok), tokens);
    EXPECT_TRUE(ok);
}

TEST(EntropyCoderRoundTrip, ExtremeTokens) {
    const std::vector<int32_t> tokens = {INT32_MAX, 0, INT32_MAX, 1};
    for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
        const auto block = EncodeEntropyBlock(tokens, form);
        EXPECT_EQ(Decode(block, 4, INT32_MIN),
                  (std::vector<int32_t>{-1, INT32_MIN, -1, INT32_MIN + 1}));
    }
}

// --- Hostile blocks

TEST(EntropyCoderHostile, RefusedHeadersAndTables) {
    EntropyCoder coder;
    EXPECT_FALSE(coder.InitDecoder(nullptr, 10));
    const uint8_t one = 0;
    EXPECT_FALSE(coder.InitDecoder(&one, 0));
    // Width above 32.
    BitWriter wide;
    wide.Put(33, 8);
    wide.Put(0, 32);
    EXPECT_FALSE(coder.InitDecoder(wide.Bytes().data(), wide.Bytes().size()));
    // Direct header cut short.
    const std::vector<uint8_t> shortDirect = {0x02, 0x00, 0x00};
    EXPECT_FALSE(coder.InitDecoder(shortDirect.data(), shortDirect.size()));

    auto table = [](uint32_t n, unsigned r, unsigned s, std::vector<std::array<uint64_t, 3>> entries,
                    size_t padBytes = 0) {
        BitWriter w;
        w.Put(0, 8);
        w.Put(n, 32);
        w.Put(0, 32);
        w.Put(r, 6);
        w.Put(s, 6);
        for (const auto& e : entries) {
            w.Put(e[0], 1);
            if (e[0]) w.Put(e[1], r);
            w.Put(e[2], s);
        }
        for (size_t i = 0; i < padBytes; ++i) w.Put(0, 8);
        return w.Bytes();
    };
    const auto check = [&](const std::vector<uint8_t>& block) { return coder.InitDecoder(block.data(), block.size()); };
    EXPECT_TRUE(check(table(2, 4, 4, {{1, 3, 0}, {0, 0, 1}})));  // sane: F = 0 repeats 3
    EXPECT_FALSE(check(table(0, 4, 4, {}, 16)));                  // n = 0
    EXPECT_FALSE(check(table(1, 4, 4, {{0, 0, 1}}, 8)));          // first entry without a count: 0
    EXPECT_FALSE(check(table(2, 4, 4, {{1, 0, 0}, {1, 2, 1}}, 8)));  // a count of 0
    EXPECT_FALSE(check(table(1, 0, 4, {{1, 0, 1}}, 8)));          // R = 0: every count 0
    EXPECT_FALSE(check(table(0x80000000u, 4, 4, {}, 64)));        // negative n
    // n far beyond what the input holds is refused before any allocation.
    ZUtils::FailAllocationAt(1, true);
    EXPECT_FALSE(check(table(1000000, 4, 4, {{1, 3, 0}}, 64)));
    EXPECT_EQ(ZUtils::AllocationsCounted(), 0);
    ZUtils::FailAllocationAt(0);
    // Counts and symbols wider than 32 bits must still fit their slots.
    EXPECT_TRUE(check(table(1, 40, 40, {{1, 7, 3}})));
    EXPECT_FALSE(check(table(1, 40, 4, {{1, uint64_t(1) << 35, 3}})));
    EXPECT_FALSE(check(table(1, 4, 40, {{1, 7, uint64_t(1) << 33}})));
    // The table cut short.
    auto cut = table(3, 4, 4, {{1, 3, 0}, {1, 2, 1}, {1, 1, 2}});
    cut.resize(11);
    EXPECT_FALSE(check(cut));
}

TEST(EntropyCoderHostile, RunMarkerBeforeAnyValue) {
    for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
        bool ok = true;
        Decode(EncodeEntropyBlock({-3, 1, 2}, form), 3, 0, &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(EntropyCoderHostile, CodesRunningPastTheInputFail) {
    std::vector<int32_t> tokens;
    for (int i = 0; i < 500; ++i) tokens.push_back(i % 37);
    for (EntropyForm form : {EntropyForm::Direct, EntropyForm::Coded}) {
        std::vector<uint8_t> block = EncodeEntropyBlock(tokens, form);
        bool ok = false;
        Decode(block, 500, 0, &ok);
        ASSERT_TRUE(ok);
        // Asking for more tokens than the block holds (its zero padding is
        // at most 3 bytes) fails.
        Decode(block, 520, 0, &ok);
        EXPECT_FALSE(ok);
        // A block cut short fails, also through DecodeOne.
        block.resize(block.size() / 2);
        Decode(block, 500, 0, &ok);
        EXPECT_FALSE(ok);
        EntropyCoder coder;
        if (coder.InitDecoder(block.data(), block.size())) {
            for (int i = 0; i < 500; ++i) coder.DecodeOne();
            EXPECT_TRUE(coder.Failed());
            EXPECT_EQ(coder.DecodeOne(), 0);
        }
    }
}

TEST(EntropyCoderHostile, UninitialisedDecoderRefuses) {
    EntropyCoder coder;
    int32_t out[2];
    EXPECT_FALSE(coder.DecodeAndExpand(out, 2, 0));
    EXPECT_EQ(coder.DecodeOne(), 0);
    EXPECT_TRUE(coder.Failed());
}

TEST(EntropyCoderHostile, RandomAndMutatedBlocksStayInBounds) {
    std::mt19937 rng(99);
    std::vector<int32_t> tokens;
    for (int i = 0; i < 400; ++i) tokens.push_back(i % 5 == 4 ? -2 : static_cast<int32_t>(rng() % 50));
    const std::vector<uint8_t> valid = EncodeEntropyBlock(tokens, EntropyForm::Coded);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> block;
        if (trial % 2 == 0) {
            block.resize(rng() % 64);
            for (uint8_t& b : block) b = static_cast<uint8_t>(rng());
            if (!block.empty() && trial % 4 == 0) block[0] = 0;  // coded form
        } else {
            block = valid;
            for (int k = 0; k < 3; ++k) block[rng() % block.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            block.resize(block.size() - rng() % 8);
        }
        // Exactly sized copies so the address sanitizer sees any over-read.
        std::vector<uint8_t> exact(block);
        EntropyCoder coder;
        std::vector<int32_t> out(600);
        if (coder.InitDecoder(exact.data(), exact.size())) {
            coder.DecodeAndExpand(out.data(), out.size(), 0);
            for (int i = 0; i < 50; ++i) coder.DecodeOne();
        }
    }
}

TEST(EntropyCoderAllocation, FailuresAreLoggedAndRefused) {
    LogCapture capture;
    const std::vector<int32_t> tokens = {1, 2, 3, 1, 1, 2};
    const std::vector<uint8_t> block = EncodeEntropyBlock(tokens, EntropyForm::Coded);
    EntropyCoder coder;
    ZUtils::FailAllocationAt(1);
    EXPECT_FALSE(coder.InitDecoder(block.data(), block.size()));
    ZUtils::FailAllocationAt(2);
    EXPECT_FALSE(coder.InitDecoder(block.data(), block.size()));
    ZUtils::FailAllocationAt(3);  // the tree's work array
    EXPECT_FALSE(coder.InitDecoder(block.data(), block.size()));
    ZUtils::FailAllocationAt(4);  // the look-up table
    EXPECT_FALSE(coder.InitDecoder(block.data(), block.size()));
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(capture.Log(), (std::vector<std::string>{"Encode InitDecoder srt failed!\n", "Encode InitDecoder tree failed!\n",
                                                       "Encode InitDecoder tree failed!\n",
                                                       "Encode InitDecoder tree failed!\n"}));
    int32_t out[6];
    EXPECT_FALSE(coder.DecodeAndExpand(out, 6, 0));
    ASSERT_TRUE(coder.InitDecoder(block.data(), block.size()));
    ASSERT_TRUE(coder.DecodeAndExpand(out, 6, 0));
    EXPECT_EQ(std::vector<int32_t>(out, out + 6), tokens);
}

}  // namespace
