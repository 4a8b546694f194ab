// Checked reading of a cache file. Every read and seek either succeeds or
// logs its mark (when it has one) and raises IOErrException, which the top of
// the reader turns into status 4. Sizes and counts read from the file are
// checked against the bytes really left before anything is allocated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "frame/byte_source.h"
#include "util/kor_string.h"

namespace KorFrame {

struct IOErrException {};

class CacheReader {
public:
    explicit CacheReader(ByteSource& source) noexcept : source_(source) {}

    // Learns the size of the source (the reader's notion of "end of file").
    // Leaves the position at the end.
    void MeasureSize(const char* failureMark);
    int64_t Size() const noexcept { return size_; }
    int64_t Tell();
    // Bytes between the current position and the end (0 when past it).
    int64_t Remaining();

    void Read(void* to, size_t bytes, const char* failureMark);
    template <class T>
    T Read(const char* failureMark) {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        T value;
        Read(&value, sizeof(T), failureMark);
        return value;
    }
    void SeekTo(int64_t position, const char* failureMark);
    void Skip(int64_t bytes, const char* failureMark);

    // Fails (logging the mark) unless `bytes` is in 0..Remaining().
    void RequireAvailable(int64_t bytes, const char* failureMark);
    // int32 byte count n, then n bytes.
    ZUtils::String ReadString(const char* failureMark);

    [[noreturn]] static void Fail(const char* mark);

private:
    ByteSource& source_;
    int64_t size_ = -1;
};

}  // namespace KorFrame
