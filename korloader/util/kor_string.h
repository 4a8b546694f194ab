// The library's narrow, zero-terminated string. One pointer wide: capacity,
// length and an on-demand UTF-16 copy live in a header in front of the
// characters, so records that embed a string keep their published sizes.
// Allocation never throws; when it fails the string keeps its old value and
// the mutating call returns false.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__MINGW32__)
#include <cstdio>  // __MINGW_PRINTF_FORMAT
#endif

namespace ZUtils {

class String {
public:
    String() noexcept;
    String(const char* text) noexcept;  // null means ""
    String(const char* text, size_t length) noexcept;
    String(const String& other) noexcept;
    String(String&& other) noexcept;
    String& operator=(const String& other) noexcept;
    String& operator=(String&& other) noexcept;
    ~String();

    const char* c_str() const noexcept { return chars_; }
    int32_t Length() const noexcept { return header()->length; }
    bool Empty() const noexcept { return header()->length == 0; }

    bool Assign(const char* text) noexcept;
    bool Assign(const char* text, size_t length) noexcept;
    bool Append(const char* text, size_t length) noexcept;
    bool Append(const char* text) noexcept;
    bool Append(char c) noexcept { return Append(&c, 1); }
    // printf-style append; false when formatting or allocation fails.
    bool AppendFormat(const char* format, ...) noexcept
#if defined(__MINGW32__)
        __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void Clear() noexcept;

    bool Equals(const char* text) const noexcept;  // exact, case-sensitive; null equals ""
    bool operator==(const String& other) const noexcept;
    bool operator!=(const String& other) const noexcept { return !(*this == other); }

    // UTF-16 copy made on first use by the UTF-8 rule of util/utf8.h and
    // kept until the string changes. Null only if allocation fails.
    const char16_t* Wide() const noexcept;

private:
    struct Header {
        int32_t capacity;  // characters that fit, not counting the terminator
        int32_t length;
        char16_t* wide;
    };
    static_assert(sizeof(Header) == 16, "header keeps the characters 16-byte aligned");

    Header* header() const noexcept { return reinterpret_cast<Header*>(chars_) - 1; }
    // The shared, never-freed "" (capacity 0; an allocated buffer always has
    // room for a character). Known by its capacity rather than its address, because an
    // import plug-in module has its own copy of it and hands strings over.
    bool SharedEmpty() const noexcept { return header()->capacity == 0; }
    bool Reserve(size_t capacity) noexcept;
    void DropWide() const noexcept;
    void Release() noexcept;

    char* chars_;
};

static_assert(sizeof(String) == sizeof(void*), "String is one pointer");

}  // namespace ZUtils
