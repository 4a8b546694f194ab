#include "vdb_cursor.h"

#include <algorithm>

namespace VdbPlug {
namespace {
constexpr size_t kWindow = 64 * 1024;
}

Cursor::Cursor(PluginIo::ByteSource& source, uint64_t begin, uint64_t end) noexcept
    : source_(source),
      pos_(begin),
      end_(std::min(end, source.Size())),
      ok_(begin <= end_),
      direct_(source.Contiguous()) {}

bool Cursor::Fill(uint64_t n) noexcept {
    // Called with n <= kWindow and n <= end_ - pos_.
    if (pos_ >= windowStart_ && pos_ - windowStart_ + n <= windowSize_) return true;
    try {
        if (window_.size() < kWindow) window_.resize(kWindow);
    } catch (...) {
        return ok_ = false;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, end_ - pos_));
    windowStart_ = pos_;
    windowSize_ = 0;
    if (!source_.ReadAt(pos_, window_.data(), want)) return ok_ = false;
    windowSize_ = want;
    return true;
}

bool Cursor::ReadSlow(void* to, uint64_t n) noexcept {
    if (!ok_ || n > end_ - pos_) return ok_ = false;
    if (n == 0) return true;
    if (direct_ != nullptr) {
        std::memcpy(to, direct_ + pos_, static_cast<size_t>(n));
    } else if (n > kWindow) {
        if (!source_.ReadAt(pos_, to, static_cast<size_t>(n))) return ok_ = false;
    } else {
        if (!Fill(n)) return false;
        std::memcpy(to, window_.data() + (pos_ - windowStart_), static_cast<size_t>(n));
    }
    pos_ += n;
    return true;
}

std::string Cursor::String() {
    const uint32_t length = Get<uint32_t>();
    std::string s;
    if (!ok_ || length > end_ - pos_) {
        ok_ = false;
        return s;
    }
    s.resize(length);
    Read(s.data(), length);
    return s;
}

}  // namespace VdbPlug
