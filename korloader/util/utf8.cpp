#include "util/utf8.h"

namespace ZUtils {
namespace {

constexpr uint32_t kRawByteBase = 0x100000;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

size_t EncodeUtf16(uint32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        if (out) out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    if (out) {
        cp -= 0x10000;
        out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
        out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    return 2;
}

size_t EncodeUtf8(uint32_t cp, char* out) {
    unsigned char b[4];
    size_t n;
    if (cp >= kRawByteBase && cp <= kRawByteBase + 0xFF) {
        b[0] = static_cast<unsigned char>(cp - kRawByteBase);
        n = 1;
    } else if (cp < 0x80) {
        b[0] = static_cast<unsigned char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (out)
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(b[i]);
    return n;
}

// Reads the code point of the UTF-16 unit run at s; a lone surrogate stands
// for itself.
size_t DecodeUtf16(const char16_t* s, size_t n, uint32_t& cp) {
    const uint32_t u = s[0];
    if (u >= 0xD800 && u <= 0xDBFF && n >= 2 && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
        cp = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint32_t>(s[1]) - 0xDC00);
        return 2;
    }
    cp = u;
    return 1;
}

}  // namespace

size_t DecodeUtf8CodePoint(const unsigned char* s, size_t n, uint32_t& cp) noexcept {
    const unsigned char b0 = s[0];
    size_t len;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        cp = kRawByteBase + b0;  // stray continuation byte or 0xF8..0xFF
        return 1;
    }
    if (len > n) {
        cp = kRawByteBase + b0;
        return 1;
    }
    for (size_t i = 1; i < len; ++i) {
        if (!IsContinuation(s[i])) {
            cp = kRawByteBase + b0;
            return 1;
        }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    const bool wellFormed = cp >= min && cp <= 0x10FFFF && !(cp >= kRawByteBase && cp <= kRawByteBase + 0xFF);
    if (!wellFormed) {
        cp = kRawByteBase + b0;
        return 1;
    }
    return len;
}

size_t Utf16UnitsFor(const char* s, size_t n) noexcept {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t units = 0;
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        i += DecodeUtf8CodePoint(p + i, n - i, cp);
        units += EncodeUtf16(cp, nullptr);
    }
    return units;
}

void ConvertUtf8ToUtf16(const char* s, size_t n, char16_t* out) noexcept {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        i += DecodeUtf8CodePoint(p + i, n - i, cp);
        out += EncodeUtf16(cp, out);
    }
}

size_t Utf8BytesFor(const char16_t* s, size_t n) noexcept {
    size_t bytes = 0;
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        i += DecodeUtf16(s + i, n - i, cp);
        bytes += EncodeUtf8(cp, nullptr);
    }
    return bytes;
}

void ConvertUtf16ToUtf8(const char16_t* s, size_t n, char* out) noexcept {
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        i += DecodeUtf16(s + i, n - i, cp);
        out += EncodeUtf8(cp, out);
    }
}

}  // namespace ZUtils
