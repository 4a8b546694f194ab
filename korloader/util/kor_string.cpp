#include "util/kor_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "util/alloc.h"
#include "util/utf8.h"

namespace ZUtils {
namespace {

// Shared representation of "" for strings whose small buffer could not be
// allocated. Never freed, never written (capacity 0).
struct EmptyRep {
    int32_t capacity = 0;
    int32_t length = 0;
    char16_t* wide = nullptr;
    char chars[8] = {};
};
EmptyRep g_empty;
const char16_t g_emptyWide[1] = {0};

constexpr size_t kSmallCapacity = 15;
constexpr size_t kMaxCapacity = 0x7FFFFFF0;

}  // namespace

String::String() noexcept : chars_(g_empty.chars) { Reserve(kSmallCapacity); }

String::String(const char* text) noexcept : String() { Assign(text); }

String::String(const char* text, size_t length) noexcept : String() { Assign(text, length); }

String::String(const String& other) noexcept : String() { Assign(other.chars_, other.Length()); }

String::String(String&& other) noexcept : chars_(other.chars_) { other.chars_ = g_empty.chars; }

String& String::operator=(const String& other) noexcept {
    if (this != &other) Assign(other.chars_, other.Length());
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        Release();
        chars_ = other.chars_;
        other.chars_ = g_empty.chars;
    }
    return *this;
}

String::~String() { Release(); }

void String::Release() noexcept {
    if (SharedEmpty()) return;
    DropWide();
    FreeBytes(header());
    chars_ = g_empty.chars;
}

void String::DropWide() const noexcept {
    Header* h = header();
    if (h->wide != nullptr) {
        FreeBytes(h->wide);
        h->wide = nullptr;
    }
}

bool String::Reserve(size_t capacity) noexcept {
    if (capacity <= static_cast<size_t>(header()->capacity)) return true;
    if (capacity > kMaxCapacity) return false;
    Header* fresh = static_cast<Header*>(AllocBytes(sizeof(Header) + capacity + 1));
    if (fresh == nullptr) return false;
    const int32_t length = header()->length;
    char* chars = reinterpret_cast<char*>(fresh + 1);
    std::memcpy(chars, chars_, static_cast<size_t>(length) + 1);
    fresh->capacity = static_cast<int32_t>(capacity);
    fresh->length = length;
    fresh->wide = nullptr;
    Release();
    chars_ = chars;
    return true;
}

bool String::Assign(const char* text) noexcept { return Assign(text, text ? std::strlen(text) : 0); }

bool String::Assign(const char* text, size_t length) noexcept {
    if (text == nullptr) length = 0;
    if (text != nullptr && text >= chars_ && text <= chars_ + Length()) {
        String copy(text, length);  // assigning a piece of ourselves
        if (copy.Length() != static_cast<int32_t>(length)) return false;
        *this = std::move(copy);
        return true;
    }
    if (!Reserve(length < kSmallCapacity ? kSmallCapacity : length)) return false;
    if (SharedEmpty()) return length == 0;
    DropWide();
    if (length) std::memcpy(chars_, text, length);
    chars_[length] = '\0';
    header()->length = static_cast<int32_t>(length);
    return true;
}

bool String::Append(const char* text) noexcept { return Append(text, text ? std::strlen(text) : 0); }

bool String::Append(const char* text, size_t length) noexcept {
    if (text == nullptr || length == 0) return true;
    const size_t old = static_cast<size_t>(Length());
    if (length > kMaxCapacity - old) return false;
    const size_t need = old + length;
    if (need > static_cast<size_t>(header()->capacity)) {
        // Appending a piece of ourselves: copy it before the buffer moves.
        if (text >= chars_ && text <= chars_ + old) {
            String piece(text, length);
            if (piece.Length() != static_cast<int32_t>(length)) return false;
            return Append(piece.c_str(), length);
        }
        size_t grown = old + old / 2;
        if (grown < need) grown = need;
        if (grown > kMaxCapacity) grown = need;
        if (!Reserve(grown)) return false;
    }
    DropWide();
    std::memmove(chars_ + old, text, length);
    chars_[need] = '\0';
    header()->length = static_cast<int32_t>(need);
    return true;
}

bool String::AppendFormat(const char* format, ...) noexcept {
    if (format == nullptr) return true;
    char small[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return false;
    if (static_cast<size_t>(n) < sizeof small) return Append(small, static_cast<size_t>(n));
    char* big = static_cast<char*>(AllocBytes(static_cast<size_t>(n) + 1));
    if (big == nullptr) return false;
    va_start(args, format);
    std::vsnprintf(big, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    const bool ok = Append(big, static_cast<size_t>(n));
    FreeBytes(big);
    return ok;
}

void String::Clear() noexcept {
    if (SharedEmpty()) return;
    DropWide();
    chars_[0] = '\0';
    header()->length = 0;
}

bool String::Equals(const char* text) const noexcept {
    if (text == nullptr) return Length() == 0;
    const size_t n = std::strlen(text);
    return n == static_cast<size_t>(Length()) && std::memcmp(chars_, text, n) == 0;
}

bool String::operator==(const String& other) const noexcept {
    return Length() == other.Length() && std::memcmp(chars_, other.chars_, static_cast<size_t>(Length())) == 0;
}

const char16_t* String::Wide() const noexcept {
    if (SharedEmpty()) return g_emptyWide;
    Header* h = header();
    if (h->wide != nullptr) return h->wide;
    const size_t units = Utf16UnitsFor(chars_, static_cast<size_t>(h->length));
    char16_t* wide = static_cast<char16_t*>(AllocBytes((units + 1) * sizeof(char16_t)));
    if (wide == nullptr) return nullptr;
    ConvertUtf8ToUtf16(chars_, static_cast<size_t>(h->length), wide);
    wide[units] = 0;
    h->wide = wide;
    return wide;
}

}  // namespace ZUtils
