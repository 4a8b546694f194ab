#include "plugin_io/byte_source.h"

#include <cstring>
#include <limits>

namespace PluginIo {

bool MemorySource::ReadAt(uint64_t offset, void* to, size_t n) noexcept {
    if (!Holds(offset, n)) return false;
    if (n) std::memcpy(to, data_ + offset, n);
    return true;
}

FileSource::~FileSource() { KorPlatform::CloseFile(file_); }

bool FileSource::Open(const char* path) noexcept {
    if (file_ || path == nullptr || *path == '\0') return false;
    file_ = KorPlatform::OpenFileForReading(path);
    if (!file_ || !KorPlatform::SeekFile(file_, 0, KorPlatform::SeekFrom::End)) return false;
    const int64_t end = KorPlatform::TellFile(file_);
    if (end < 0) return false;
    size_ = static_cast<uint64_t>(end);
    position_ = size_;
    return true;
}

bool FileSource::ReadAt(uint64_t offset, void* to, size_t n) noexcept {
    if (!file_ || !Holds(offset, n)) return false;
    if (n == 0) return true;
    if (offset != position_) {
        if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
            !KorPlatform::SeekFile(file_, static_cast<int64_t>(offset), KorPlatform::SeekFrom::Start)) {
            position_ = UINT64_MAX;
            return false;
        }
    }
    const size_t got = KorPlatform::ReadFile(file_, to, n);
    position_ = got == n ? offset + n : UINT64_MAX;
    return got == n;
}

bool MappedFileSource::Open(const char* path) noexcept {
    if (open_ || path == nullptr || *path == '\0') return false;
    open_ = KorPlatform::MapFileForReading(path, mapping_);
    return open_;
}

bool MappedFileSource::ReadAt(uint64_t offset, void* to, size_t n) noexcept {
    if (!open_ || !Holds(offset, n)) return false;
    if (n) std::memcpy(to, Data() + offset, n);
    return true;
}

}  // namespace PluginIo
