// Sequential, bounds-checked reading of one stretch of a .vdb file, for the
// module's own walks over what OpenVDB is about to read. Bytes in memory (a
// mapped file) are read in place; otherwise small reads are served from a
// window of the file, so skipping over compressed data costs no system call. Every failure sticks: after the first short read or
// out-of-range skip, Ok() stays false and reads give zeros.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_io/byte_source.h"

namespace VdbPlug {

class Cursor {
public:
    // Reads [begin, end) of `source`; `end` is clamped to the source's size.
    Cursor(PluginIo::ByteSource& source, uint64_t begin, uint64_t end) noexcept;
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    bool Ok() const noexcept { return ok_; }
    void Fail() noexcept { ok_ = false; }
    uint64_t Position() const noexcept { return pos_; }
    // Bytes between the position and the end of the stretch.
    uint64_t Left() const noexcept { return ok_ ? end_ - pos_ : 0; }

    bool Read(void* to, uint64_t n) noexcept {
        // In memory: a copy of known size for Get, inlined; the walk reads
        // a few small fields of every leaf.
        if (direct_ != nullptr && ok_ && n <= end_ - pos_) {
            std::memcpy(to, direct_ + pos_, static_cast<size_t>(n));
            pos_ += n;
            return true;
        }
        return ReadSlow(to, n);
    }
    bool Skip(uint64_t n) noexcept {
        if (!ok_ || n > end_ - pos_) return ok_ = false;
        pos_ += n;
        return true;
    }
    // Moves to `pos`, which must lie between the position and the end.
    bool SkipTo(uint64_t pos) noexcept { return pos >= pos_ && Skip(pos - pos_); }
    template <class T>
    T Get() noexcept {
        T value{};
        if (!Read(&value, sizeof(T))) return T{};
        return value;
    }
    // A 32-bit length, then that many bytes.
    std::string String();
    bool SkipString() noexcept { return Skip(Get<uint32_t>()); }

private:
    bool ReadSlow(void* to, uint64_t n) noexcept;
    bool Fill(uint64_t n) noexcept;

    PluginIo::ByteSource& source_;
    uint64_t pos_, end_;
    bool ok_;
    const uint8_t* direct_;  // the source's bytes, when in memory
    // window_ holds the file's bytes from windowStart_ on.
    std::vector<unsigned char> window_;
    uint64_t windowStart_ = 0;
    size_t windowSize_ = 0;
};

}  // namespace VdbPlug
