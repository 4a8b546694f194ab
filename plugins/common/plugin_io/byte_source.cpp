#include "plugin_io/byte_source.h"

#include <cstring>
#include <limits>

namespace PluginIo {

bool MemorySource::ReadAt(uint64_t offset, void* to, size_t n) noexcept {
    if (!Holds(offset, n)) return false;
    if (n) std::memcpy(to, data_ + offset, n);
    return true;
}

FileSource::~FileSource() {
    if (file_) std::fclose(file_);
}

bool FileSource::Open(const char* path) noexcept {
    if (file_ || path == nullptr || *path == '\0') return false;
    file_ = std::fopen(path, "rb");
    if (!file_) return false;
    if (fseeko(file_, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(file_);
    if (end < 0) return false;
    size_ = static_cast<uint64_t>(end);
    position_ = size_;
    return true;
}

bool FileSource::ReadAt(uint64_t offset, void* to, size_t n) noexcept {
    if (!file_ || !Holds(offset, n)) return false;
    if (n == 0) return true;
    if (offset != position_) {
        if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
        if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
            position_ = UINT64_MAX;
            return false;
        }
    }
    const size_t got = std::fread(to, 1, n, file_);
    position_ = got == n ? offset + n : UINT64_MAX;
    return got == n;
}

}  // namespace PluginIo
