#include "support/native_path.h"

#if defined(_WIN32)
#include <cstdint>
#endif

namespace KorTest {

#if defined(_WIN32)
namespace {

constexpr uint32_t kRawByte = 0x100000;

void PutUtf16(uint32_t cp, std::wstring& out) {
    if (cp < 0x10000) {
        out += static_cast<wchar_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    }
}

void PutUtf8(uint32_t cp, std::string& out) {
    if (cp >= kRawByte && cp <= kRawByte + 0xFF) {
        out += static_cast<char>(cp - kRawByte);
    } else if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 when the byte there
// starts none (shortest form only, at most U+10FFFF, not U+100000..U+1000FF).
size_t WellFormedAt(const std::string& s, size_t i, uint32_t& cp) {
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1Fu;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0Fu;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= kRawByte && cp <= kRawByte + 0xFF)) return 0;
    return len;
}

}  // namespace

std::filesystem::path NativePath(const std::string& utf8) {
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = 0;
        const size_t len = WellFormedAt(utf8, i, cp);
        if (len == 0) {
            PutUtf16(kRawByte + static_cast<unsigned char>(utf8[i]), wide);
            ++i;
        } else {
            PutUtf16(cp, wide);
            i += len;
        }
    }
    return std::filesystem::path(wide);
}

std::string NarrowName(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t u = static_cast<uint16_t>(wide[i]);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size()) {
            const uint32_t low = static_cast<uint16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        PutUtf8(u, out);
    }
    return out;
}

FILE* OpenNarrow(const std::string& utf8Path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(NativePath(utf8Path).c_str(), wideMode.c_str());
}

#else

std::filesystem::path NativePath(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string NarrowName(const std::filesystem::path& path) { return path.native(); }

FILE* OpenNarrow(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

#endif

}  // namespace KorTest
