#include "vdb_walk.h"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace VdbPlug {
namespace {

// Compression flags of a grid's compression word.
constexpr uint32_t kZip = 0x1, kActiveMask = 0x2, kBlosc = 0x4;

// What the byte before each stored value array says is stored with it.
enum InactiveValues : int8_t {
    kNoMaskOrInactiveVals = 0,
    kNoMaskAndMinusBg = 1,
    kNoMaskAndOneInactiveVal = 2,
    kMaskAndNoInactiveVals = 3,
    kMaskAndOneInactiveVal = 4,
    kMaskAndTwoInactiveVals = 5,
    kNoMaskAndAllVals = 6,
};

constexpr uint32_t kBloscHeader = 16;

// The grid metadata entry that makes OpenVDB read a tree's floats as halves.
constexpr const char* kSavedAsHalfName = "is_saved_as_half_float";

uint32_t LittleEndian32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint64_t kAnySize = UINT64_MAX;

// OpenVDB pads inputs shorter than this with zeros before blosc compresses
// them, and accepts a padded block wherever it expects as many bytes or fewer.
constexpr uint64_t kBloscPadBytes = 128;

// A blosc block of `stored` bytes that must expand to `expected` bytes (or
// to what its header says, for kAnySize). blosc trusts its header's
// compressed size, so that must not exceed what is stored.
bool BloscBlock(Cursor& c, uint64_t stored, uint64_t expected) {
    unsigned char header[kBloscHeader];
    if (stored < kBloscHeader || !c.Read(header, kBloscHeader)) return false;
    const uint32_t nbytes = LittleEndian32(header + 4), cbytes = LittleEndian32(header + 12);
    const bool padded = nbytes == kBloscPadBytes && expected <= kBloscPadBytes;
    if ((expected != kAnySize && nbytes != expected && !padded) || cbytes < kBloscHeader || cbytes > stored)
        return false;
    return c.Skip(stored - kBloscHeader);
}

// Fixed sizes of the registered metadata types; 0 for the others.
uint32_t FixedMetadataSize(const std::string& type) {
    struct Entry {
        const char* name;
        uint32_t size;
    };
    static constexpr Entry kSizes[] = {
        {"double", 8},  {"float", 4},   {"int32", 4},   {"int64", 8},   {"vec2i", 8},       {"vec2s", 8},
        {"vec2d", 16},  {"vec3i", 12},  {"vec3s", 12},  {"vec3d", 24},  {"vec4i", 16},      {"vec4s", 16},
        {"vec4d", 32},  {"mat4s", 64},  {"mat4d", 128}, {"ptidx32", 4}, {"ptidx64", 8},     {"ptdataidx32", 4},
        {"ptdataidx64", 8},
    };
    for (const Entry& e : kSizes)
        if (type == e.name) return e.size;
    return 0;
}

// The delayed-load record OpenVDB writes into each grid's metadata: per-leaf
// mask bytes and compressed sizes, each raw or blosc-compressed (padded, and
// decompressed into a buffer of `count` entries). OpenVDB writes `numBytes`
// as exactly what follows; the walk insists on it, so that the record ends
// where OpenVDB's reading of it ends, however that reads a raw size array.
bool WalkDelayedLoad(Cursor& c, uint32_t numBytes) {
    if (numBytes == 0) return true;
    uint64_t total = 4;
    const uint32_t count = c.Get<uint32_t>();
    uint32_t bytes = c.Get<uint32_t>();
    total += 8;
    if (bytes > 0) {
        if (!BloscBlock(c, bytes, count)) return false;
        total += bytes;
    } else {
        if (!c.Skip(count)) return false;
        total += count;
    }
    bytes = c.Get<uint32_t>();
    if (bytes != UINT32_MAX) {
        if (bytes > 0) {
            if (!BloscBlock(c, bytes, uint64_t(count) * 8)) return false;
            total += bytes;
        } else {
            if (!c.Skip(uint64_t(count) * 8)) return false;
            total += uint64_t(count) * 8;
        }
    }
    if (total > numBytes) return false;
    c.Skip(numBytes - total);
    return c.Ok();
}

// Stored sizes of the registered maps; 0 for unknown ones.
uint32_t MapSize(const std::string& type) {
    if (type == "AffineMap" || type == "UnitaryMap") return 128;
    if (type == "ScaleMap" || type == "UniformScaleMap") return 5 * 24;
    if (type == "TranslationMap") return 24;
    if (type == "ScaleTranslateMap" || type == "UniformScaleTranslateMap") return 6 * 24;
    return 0;
}

bool WalkTransform(Cursor& c) {
    std::string type = c.String();
    if (type == "NonlinearFrustumMap") {
        // Box, taper and depth, then a linear map. OpenVDB only ever writes a
        // linear one there; a frustum inside a frustum would recurse.
        c.Skip(48 + 16);
        type = c.String();
    }
    const uint32_t size = MapSize(type);
    return size != 0 && c.Skip(size);
}

// Bits set in a mask. A portable build has no popcount instruction and
// std::popcount becomes a library call per word; this folds in registers.
inline uint64_t BitsOn(uint64_t w) {
    w = w - ((w >> 1) & 0x5555555555555555u);
    w = (w & 0x3333333333333333u) + ((w >> 2) & 0x3333333333333333u);
    w = (w + (w >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return (w * 0x0101010101010101u) >> 56;
}

template <size_t Words>
uint64_t CountOn(const std::array<uint64_t, Words>& mask) {
    uint64_t n = 0;
    for (uint64_t w : mask) n += BitsOn(w);
    return n;
}

// One tree: topology first (root tiles and children, each internal node's
// masks and values, each leaf's mask), then every leaf's buffer in the same
// order.
class TreeWalk {
public:
    TreeWalk(Cursor& c, uint32_t compression, const ValueLayout& value, bool half)
        : c_(c), compression_(compression), value_(value), half_(half) {}

    bool Walk() {
        c_.Get<int32_t>();  // buffer count, ignored by OpenVDB
        c_.Skip(value_.size);  // background
        const uint32_t tiles = c_.Get<uint32_t>(), children = c_.Get<uint32_t>();
        if (!c_.Ok()) return false;
        for (uint32_t n = 0; n < tiles && c_.Ok(); ++n) {
            c_.Skip(12 + uint64_t(value_.size));
            // OpenVDB loads the active flag straight into a bool.
            if (c_.Get<uint8_t>() > 1) return false;
        }
        std::array<int32_t, 3> previous{};
        for (uint32_t n = 0; n < children && c_.Ok(); ++n) {
            std::array<int32_t, 3> origin;
            c_.Read(origin.data(), sizeof(origin));
            // OpenVDB writes the children in increasing order and reads their
            // buffers in that order, whatever order the topology had.
            if (n > 0 && !(previous < origin)) return false;
            previous = origin;
            if (!Internal<5>()) return false;
        }
        for (uint16_t on : leafOn_) {
            c_.Skip(kLeafMaskBytes);  // a copy of the topology's mask, seeked over
            if (!Values(512, on)) return false;
        }
        return c_.Ok();
    }

private:
    static constexpr uint64_t kLeafMaskBytes = 64;

    template <int Log2Dim>
    bool Internal() {
        constexpr uint32_t kValues = 1u << (3 * Log2Dim);
        std::array<uint64_t, kValues / 64> childMask, valueMask;
        if (!c_.Read(childMask.data(), sizeof(childMask)) || !c_.Read(valueMask.data(), sizeof(valueMask)))
            return false;
        if (!Values(kValues, CountOn(valueMask))) return false;
        for (size_t w = 0; w < childMask.size(); ++w)
            for (uint64_t bits = childMask[w]; bits != 0; bits &= bits - 1) {
                if constexpr (Log2Dim == 4) {
                    std::array<uint64_t, kLeafMaskBytes / 8> leafMask;
                    if (!c_.Read(leafMask.data(), sizeof(leafMask))) return false;
                    leafOn_.push_back(static_cast<uint16_t>(CountOn(leafMask)));
                } else {
                    if (!Internal<4>()) return false;
                }
            }
        return true;
    }

    // One array of `count` values written by writeCompressedValues, of which
    // `on` are active.
    bool Values(uint32_t count, uint64_t on) {
        const int8_t kind = c_.Get<int8_t>();
        if (kind == kNoMaskAndOneInactiveVal || kind == kMaskAndOneInactiveVal || kind == kMaskAndTwoInactiveVals)
            c_.Skip(value_.size);
        if (kind == kMaskAndTwoInactiveVals) c_.Skip(value_.size);
        if (kind == kMaskAndNoInactiveVals || kind == kMaskAndOneInactiveVal || kind == kMaskAndTwoInactiveVals)
            c_.Skip(count / 8);  // selection mask
        uint64_t stored = count;
        if ((compression_ & kActiveMask) && kind != kNoMaskAndAllVals) stored = on;
        // Half floats: nothing at all is stored for an empty array.
        if (half_ && stored == 0) return c_.Ok();
        return Chunk(stored * (half_ ? value_.halfSize : value_.size));
    }

    // The bytes of one value array: raw, or a size field and a zip or blosc
    // block (a negative size marks raw bytes, which must be exactly `bytes`).
    bool Chunk(uint64_t bytes) {
        if (!(compression_ & (kZip | kBlosc))) return c_.Skip(bytes);
        const int64_t size = c_.Get<int64_t>();
        if (!c_.Ok()) return false;
        if (size <= 0) return size == -static_cast<int64_t>(bytes) && c_.Skip(bytes);
        if (static_cast<uint64_t>(size) > c_.Left()) return false;
        if (compression_ & kBlosc) return BloscBlock(c_, static_cast<uint64_t>(size), bytes);
        return c_.Skip(static_cast<uint64_t>(size));
    }

    Cursor& c_;
    uint32_t compression_;
    ValueLayout value_;
    bool half_;
    std::vector<uint16_t> leafOn_;  // active voxels of each leaf, in file order
};

}  // namespace

bool ImportedValueLayout(const std::string& gridType, ValueLayout& out) {
    if (gridType == "Tree_float_5_4_3") out = {4, 2};
    else if (gridType == "Tree_double_5_4_3") out = {8, 2};
    else if (gridType == "Tree_vec3s_5_4_3") out = {12, 6};
    else if (gridType == "Tree_vec3d_5_4_3") out = {24, 6};
    else return false;
    return true;
}

bool WalkMetadata(Cursor& c, bool* savedAsHalf) noexcept {
    try {
        const uint32_t count = c.Get<uint32_t>();
        for (uint32_t i = 0; i < count && c.Ok(); ++i) {
            const std::string name = c.String();
            const std::string type = c.String();
            const uint32_t bytes = c.Get<uint32_t>();
            if (!c.Ok()) return false;
            if (type == "bool") {
                // Loaded straight into a bool.
                const uint8_t value = c.Get<uint8_t>();
                if (bytes != 1 || value > 1) return false;
                if (name == kSavedAsHalfName && savedAsHalf != nullptr) *savedAsHalf = value != 0;
            } else if (name == kSavedAsHalfName) {
                return false;  // OpenVDB writes a bool; other types it would read as one
            } else if (const uint32_t fixed = FixedMetadataSize(type); fixed != 0) {
                // Read at the type's size whatever the count says, or as raw
                // bytes of the count when this OpenVDB does not register the
                // type: only a count that agrees means the same to both.
                if (bytes != fixed) return false;
                c.Skip(fixed);
            } else if (type == "__delayedload") {
                if (!WalkDelayedLoad(c, bytes)) return false;
            } else {
                c.Skip(bytes);  // strings and unknown types
            }
        }
        return c.Ok();
    } catch (...) {
        return false;
    }
}

bool WalkGrid(Cursor& c, uint32_t fileVersion, const ValueLayout& value, bool halfFloat, bool instance) noexcept {
    try {
        if (fileVersion < kOldestWalkedVersion || value.size == 0) return false;
        const uint32_t compression = c.Get<uint32_t>();
        // OpenVDB reads the tree as half floats when the grid's metadata says
        // so, whatever the descriptor's type name said; it writes both alike.
        bool savedAsHalf = false;
        if (!WalkMetadata(c, &savedAsHalf) || savedAsHalf != halfFloat || !WalkTransform(c)) return false;
        if (instance) return c.Ok();
        return TreeWalk(c, compression, value, halfFloat).Walk();
    } catch (...) {
        return false;  // memory for the leaves' counts
    }
}

}  // namespace VdbPlug
