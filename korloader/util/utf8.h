// UTF-8 <-> UTF-16 for names handed to wide-character system calls.
//
// A sequence counts as well formed only in its shortest form and when it
// decodes to at most U+10FFFF outside U+100000..U+1000FF. Every byte that does
// not start a well-formed sequence is carried as the code point U+100000 plus
// the byte, so no byte of a path is lost and the conversion can be undone.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ZUtils {

// Decodes the code point starting at s[0] (n bytes available). Returns the
// sequence length consumed (1 for a byte carried as U+100000 + byte).
size_t DecodeUtf8CodePoint(const unsigned char* s, size_t n, uint32_t& codePoint) noexcept;

// UTF-16 code units needed for the n bytes at s (no terminator counted).
size_t Utf16UnitsFor(const char* s, size_t n) noexcept;
// Writes Utf16UnitsFor(s, n) units to out (no terminator).
void ConvertUtf8ToUtf16(const char* s, size_t n, char16_t* out) noexcept;

// The inverse, for names coming back from the system: U+100000..U+1000FF give
// back their byte, other code points their UTF-8 form, lone surrogates their
// 3-byte form. Returns the bytes needed/written (no terminator).
size_t Utf8BytesFor(const char16_t* s, size_t n) noexcept;
void ConvertUtf16ToUtf8(const char16_t* s, size_t n, char* out) noexcept;

}  // namespace ZUtils
