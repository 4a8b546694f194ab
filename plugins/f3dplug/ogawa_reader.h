// A bounds-checked reader of the Ogawa container.
//
// Layout, little-endian throughout:
//   header (16 bytes): "Ogawa", a frozen byte (0xFF once the writer closed
//   the file, 0x00 while it was still writing), the version as two bytes
//   (0, 1), and the u64 offset of the root group;
//   group: u64 child count n, then n u64 child references;
//   data: u64 byte count, then the bytes.
// A child reference with its top bit set names data, otherwise a group; the
// remaining 63 bits are the file offset. Offset 0 stands for an empty group
// or empty data (nothing is stored for them).
//
// Offsets and sizes come from the file, so every one is checked against the
// file size before use, and the number of group entries one archive may read
// is limited in proportion to the file size, so that groups which share or
// repeat their children cannot make a small file cost unbounded time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugin_io/byte_source.h"

namespace Ogawa {

constexpr uint64_t kDataBit = uint64_t{1} << 63;
constexpr size_t kHeaderBytes = 16;
// Children of one group this reader takes at most (a sparse layer has one
// per allocated block).
constexpr uint64_t kMaxChildren = uint64_t{1} << 24;

inline bool IsData(uint64_t ref) noexcept { return (ref & kDataBit) != 0; }
inline uint64_t OffsetOf(uint64_t ref) noexcept { return ref & ~kDataBit; }

class Archive {
public:
    explicit Archive(PluginIo::ByteSource& source) noexcept : source_(source) {}

    // Checks the header; false when it is not a finished Ogawa file of
    // version 1, or the root offset lies outside the file.
    bool Open() noexcept;
    uint64_t Root() const noexcept { return root_; }

    // The child references of the group `ref` (which must not be data).
    // False when the group runs past the end of the file, is too big, or the
    // read budget is spent.
    bool Children(uint64_t ref, std::vector<uint64_t>& out) noexcept;

    // Where the bytes of the data `ref` are and how many there are.
    bool DataSpan(uint64_t ref, uint64_t& offset, uint64_t& size) noexcept;
    // Reads exactly `size` bytes of data `ref`; false if it holds another count.
    bool ReadData(uint64_t ref, void* to, uint64_t size) noexcept;
    // Reads n bytes from position `at` of data `ref`.
    bool ReadDataPart(uint64_t ref, uint64_t at, void* to, size_t n) noexcept;

    PluginIo::ByteSource& Source() noexcept { return source_; }

private:
    bool Spend(uint64_t entries) noexcept;

    PluginIo::ByteSource& source_;
    uint64_t root_ = 0;
    uint64_t budget_ = 0;
};

}  // namespace Ogawa
