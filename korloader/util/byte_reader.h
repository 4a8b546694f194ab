// Checked reading over a byte range in memory. Every read either succeeds
// completely or fails and leaves the cursor where it was: nothing reads past
// the end. Used by every codec.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ZUtils {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the file formats are little-endian and read as-is");

class ByteReader {
public:
    ByteReader() noexcept = default;
    ByteReader(const void* data, size_t size) noexcept
        : begin_(static_cast<const uint8_t*>(data)), cur_(begin_), end_(begin_ + (data ? size : 0)) {}

    size_t Remaining() const noexcept { return static_cast<size_t>(end_ - cur_); }
    size_t Position() const noexcept { return static_cast<size_t>(cur_ - begin_); }
    size_t Size() const noexcept { return static_cast<size_t>(end_ - begin_); }
    const uint8_t* Current() const noexcept { return cur_; }

    bool Read(void* to, size_t n) noexcept {
        if (n > Remaining()) return false;
        if (n) std::memcpy(to, cur_, n);
        cur_ += n;
        return true;
    }

    template <class T>
    bool ReadValue(T& value) noexcept {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        return Read(&value, sizeof(T));
    }

    bool Skip(size_t n) noexcept {
        if (n > Remaining()) return false;
        cur_ += n;
        return true;
    }

    bool SeekTo(size_t position) noexcept {
        if (position > Size()) return false;
        cur_ = begin_ + position;
        return true;
    }

    // A reader over the next n bytes, and the cursor moved past them.
    bool Split(size_t n, ByteReader& part) noexcept {
        if (n > Remaining()) return false;
        part = ByteReader(cur_, n);
        cur_ += n;
        return true;
    }

private:
    const uint8_t* begin_ = nullptr;
    const uint8_t* cur_ = nullptr;
    const uint8_t* end_ = nullptr;
};

}  // namespace ZUtils
