#include "frame/cache_reader.h"

#include <cstring>

#include "diag/log.h"
#include "util/alloc.h"

namespace KorFrame {

size_t MemorySource::Read(void* to, size_t bytes) noexcept {
    if (position_ < 0 || static_cast<uint64_t>(position_) >= size_) return 0;
    const size_t left = size_ - static_cast<size_t>(position_);
    const size_t n = bytes < left ? bytes : left;
    std::memcpy(to, data_ + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
}

bool MemorySource::SeekTo(int64_t position) noexcept {
    if (position < 0) return false;
    position_ = position;
    return true;
}

void CacheReader::Fail(const char* mark) {
    if (mark != nullptr) LogPrint("%s", mark);
    throw IOErrException{};
}

void CacheReader::MeasureSize(const char* failureMark) {
    if (!source_.SeekToEnd()) Fail(failureMark);
    size_ = source_.Tell();
    if (size_ < 0) Fail(failureMark);
}

int64_t CacheReader::Tell() {
    const int64_t position = source_.Tell();
    if (position < 0) Fail(nullptr);
    return position;
}

int64_t CacheReader::Remaining() {
    const int64_t left = size_ - Tell();
    return left > 0 ? left : 0;
}

void CacheReader::Read(void* to, size_t bytes, const char* failureMark) {
    if (source_.Read(to, bytes) != bytes) Fail(failureMark);
}

void CacheReader::SeekTo(int64_t position, const char* failureMark) {
    if (!source_.SeekTo(position)) Fail(failureMark);
}

void CacheReader::Skip(int64_t bytes, const char* failureMark) {
    const int64_t here = Tell();
    if (bytes < 0 || bytes > INT64_MAX - here) Fail(failureMark);
    SeekTo(here + bytes, failureMark);
}

void CacheReader::RequireAvailable(int64_t bytes, const char* failureMark) {
    if (bytes < 0 || bytes > Remaining()) Fail(failureMark);
}

ZUtils::String CacheReader::ReadString(const char* failureMark) {
    const int32_t length = Read<int32_t>(failureMark);
    RequireAvailable(length, failureMark);
    ZUtils::String text;
    if (length == 0) return text;
    char* bytes = static_cast<char*>(ZUtils::AllocBytes(static_cast<size_t>(length)));
    if (bytes == nullptr) Fail(nullptr);
    if (source_.Read(bytes, static_cast<size_t>(length)) != static_cast<size_t>(length)) {
        ZUtils::FreeBytes(bytes);
        Fail(failureMark);
    }
    const bool stored = text.Assign(bytes, static_cast<size_t>(length));
    ZUtils::FreeBytes(bytes);
    if (!stored) Fail(nullptr);
    return text;
}

}  // namespace KorFrame
