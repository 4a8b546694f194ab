#include "ogawa_reader.h"

#include <cstring>
#include <new>

namespace Ogawa {

bool Archive::Open() noexcept {
    uint8_t header[kHeaderBytes];
    if (!source_.ReadAt(0, header, sizeof header)) return false;
    if (std::memcmp(header, "Ogawa", 5) != 0) return false;
    if (header[5] != 0xFF) return false;                   // never finished by its writer
    if (header[6] != 0 || header[7] != 1) return false;    // version 1 only
    std::memcpy(&root_, header + 8, sizeof root_);
    if (IsData(root_) || root_ < kHeaderBytes || !source_.Holds(root_, 8)) return false;
    // Each group entry costs one unit; a well-formed file reads each of its
    // entries a few times at most, so 64 readings of every 8 bytes of the
    // file plus a fixed allowance are plenty.
    budget_ = (source_.Size() / 8) * 64 + (uint64_t{1} << 16);
    return true;
}

bool Archive::Spend(uint64_t entries) noexcept {
    if (entries > budget_) {
        budget_ = 0;
        return false;
    }
    budget_ -= entries;
    return true;
}

bool Archive::Children(uint64_t ref, std::vector<uint64_t>& out) noexcept {
    out.clear();
    if (IsData(ref)) return false;
    if (ref == 0) return Spend(1);  // the empty group
    uint64_t count = 0;
    if (ref < kHeaderBytes || !source_.ReadAt(ref, &count, sizeof count)) return false;
    if (count > kMaxChildren || !source_.Holds(ref + 8, count * 8)) return false;
    if (!Spend(count + 1)) return false;
    try {
        out.resize(static_cast<size_t>(count));
    } catch (...) {
        return false;
    }
    return count == 0 || source_.ReadAt(ref + 8, out.data(), static_cast<size_t>(count) * 8);
}

bool Archive::DataSpan(uint64_t ref, uint64_t& offset, uint64_t& size) noexcept {
    offset = size = 0;
    if (!IsData(ref)) return false;
    const uint64_t at = OffsetOf(ref);
    if (at == 0) return true;  // empty data
    if (at < kHeaderBytes || !source_.ReadAt(at, &size, sizeof size)) return false;
    if (!source_.Holds(at + 8, size)) {
        size = 0;
        return false;
    }
    offset = at + 8;
    return true;
}

bool Archive::ReadData(uint64_t ref, void* to, uint64_t size) noexcept {
    uint64_t offset = 0, have = 0;
    if (!DataSpan(ref, offset, have) || have != size) return false;
    return size == 0 || source_.ReadAt(offset, to, static_cast<size_t>(size));
}

bool Archive::ReadDataPart(uint64_t ref, uint64_t at, void* to, size_t n) noexcept {
    uint64_t offset = 0, have = 0;
    if (!DataSpan(ref, offset, have)) return false;
    if (at > have || n > have - at) return false;
    return n == 0 || source_.ReadAt(offset + at, to, n);
}

}  // namespace Ogawa
