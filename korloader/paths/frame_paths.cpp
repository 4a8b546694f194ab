#include "paths/frame_paths.h"

#include <cstddef>
#include <cstring>

using KorPaths::kMaxFallback;
using KorPaths::kMaxWidth;
using KorPaths::kNoFrame;

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool IsSeparator(char c) noexcept { return c == '/' || c == '\\'; }

struct Placeholder {
    size_t end = 0;  // one past its last character
    int width = 0;
    char pad = '0';
    bool isUnsigned = false;
};

// Reads an optional '0' and a run of digits at s[at]: the pad character and
// the width (cut to kMaxWidth). Returns the position after them.
size_t ReadPadAndWidth(const char* s, size_t at, Placeholder& p) noexcept {
    p.pad = ' ';
    if (s[at] == '0') {
        p.pad = '0';
        ++at;
    }
    int width = 0;
    for (; IsDigit(s[at]); ++at)
        if (width <= kMaxWidth) width = width * 10 + (s[at] - '0');
    p.width = width > kMaxWidth ? kMaxWidth : width;
    return at;
}

// Looks at s[at] (not the terminator). When a placeholder starts there,
// fills `p` and returns true; otherwise returns false and sets `next` to
// where scanning resumes. Never looks past the terminator.
bool MatchPlaceholder(const char* s, size_t at, Placeholder& p, size_t& next) noexcept {
    next = at + 1;
    switch (s[at]) {
        case '#': {
            size_t end = at;
            while (s[end] == '#') ++end;
            const size_t run = end - at;
            p.width = run > static_cast<size_t>(kMaxWidth) ? kMaxWidth : static_cast<int>(run);
            p.pad = '0';
            p.isUnsigned = false;
            p.end = end;
            return true;
        }
        case '%': {
            if (s[at + 1] == '%') {
                next = at + 2;
                return false;
            }
            const size_t letter = ReadPadAndWidth(s, at + 1, p);
            switch (s[letter]) {
                case 'd': case 'D': case 'i': case 'I':
                    p.isUnsigned = false;
                    break;
                case 'u': case 'U':
                    p.isUnsigned = true;
                    break;
                default:
                    return false;  // the '%' is plain text
            }
            p.end = letter + 1;
            return true;
        }
        case '<': {
            if (std::strncmp(s + at + 1, "frame", 5) != 0) {
                // Not "<frame": the character after '<' is skipped too, unless
                // it is the terminator.
                if (s[at + 1] != '\0') next = at + 2;
                return false;
            }
            const size_t close = ReadPadAndWidth(s, at + 6, p);
            if (s[close] != '>') return false;
            p.isUnsigned = false;
            p.end = close + 1;
            return true;
        }
        default:
            return false;
    }
}

// Appends `frame` formatted into the placeholder's width. INT32_MIN gives
// no text at all. False when memory ran out.
bool AppendNumber(ZUtils::String& out, int32_t frame, const Placeholder& p) noexcept {
    if (frame == INT32_MIN) return true;
    char digits[16];
    int count = 0;
    bool negative = false;
    uint32_t magnitude;
    if (p.isUnsigned) {
        magnitude = static_cast<uint32_t>(frame);
    } else {
        negative = frame < 0;
        magnitude = negative ? static_cast<uint32_t>(-frame) : static_cast<uint32_t>(frame);
    }
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    char text[16];  // at most 12 of width, or a sign and 10 digits
    int length = 0;
    const int used = count + (negative ? 1 : 0);
    const int padding = p.width > used ? p.width - used : 0;
    if (p.pad == '0') {
        if (negative) text[length++] = '-';
        for (int i = 0; i < padding; ++i) text[length++] = '0';
    } else {
        for (int i = 0; i < padding; ++i) text[length++] = ' ';
        if (negative) text[length++] = '-';
    }
    while (count > 0) text[length++] = digits[--count];
    return out.Append(text, static_cast<size_t>(length));
}

}  // namespace

int HasFramePattern(const char* path) noexcept {
    if (path == nullptr) return 0;
    Placeholder p;
    size_t next = 0;
    for (size_t at = 0; path[at] != '\0'; at = next)
        if (MatchPlaceholder(path, at, p, next)) return 1;
    return 0;
}

ZUtils::String ReplaceFramePattern(const char* path, int frame, const char* fallback, bool* complete) noexcept {
    ZUtils::String out;
    if (path == nullptr) return out;
    size_t start = 0;  // scanning starts after the last separator
    for (size_t i = 0; path[i] != '\0'; ++i)
        if (IsSeparator(path[i])) start = i + 1;

    size_t fallbackLength = 0;
    while (fallback != nullptr && fallbackLength < static_cast<size_t>(kMaxFallback) && fallback[fallbackLength] != '\0') ++fallbackLength;
    size_t copied = 0;  // path[0..copied) is in `out`
    bool whole = true;
    Placeholder p;
    size_t next = 0;
    for (size_t at = start; path[at] != '\0'; at = next) {
        if (!MatchPlaceholder(path, at, p, next)) continue;
        whole = out.Append(path + copied, at - copied) && whole;
        if (frame == kNoFrame)
            whole = out.Append(fallback, fallbackLength) && whole;
        else
            whole = AppendNumber(out, frame, p) && whole;
        copied = next = p.end;
    }
    whole = out.Append(path + copied) && whole;
    if (!whole && complete != nullptr) *complete = false;
    return out;
}

int ParseFrameNumber(const char* name) noexcept {
    if (name == nullptr) return kNoFrame;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr || std::strpbrk(dot, "/\\") != nullptr) return kNoFrame;

    // Nearest digit left of the extension, within the file name.
    const char* last = dot;
    do {
        if (last == name) return kNoFrame;
        --last;
        if (IsSeparator(*last)) return kNoFrame;
    } while (!IsDigit(*last));
    const char* first = last;
    while (first > name && IsDigit(first[-1])) --first;
    const bool negative = first > name && first[-1] == '-';

    // The run as a 32-bit number; one that does not fit names no frame.
    int64_t value = 0;
    for (const char* c = first; c <= last; ++c) {
        value = value * 10 + (*c - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) return kNoFrame;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return kNoFrame;
    return static_cast<int>(value);
}

bool IsSequenceFrame(const char* path, const char* file, int* frame, bool* complete) noexcept {
    if (path == nullptr || file == nullptr) return false;
    const int number = ParseFrameNumber(file);
    if (frame != nullptr) *frame = number;
    // The template with an empty number would otherwise match a name
    // without one.
    size_t nameStart = 0;
    for (size_t i = 0; path[i] != '\0'; ++i)
        if (IsSeparator(path[i])) nameStart = i + 1;
    if (number == kNoFrame && HasFramePattern(path + nameStart)) return false;
    const ZUtils::String expected = ReplaceFramePattern(path, number, "", complete);
    return std::strcmp(expected.c_str(), file) == 0;
}

namespace {
char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool HasExtension(const char* path, const char* lowerCase) noexcept {
    if (lowerCase == nullptr) return false;
    const char* dot = path != nullptr ? std::strrchr(path, '.') : nullptr;
    if (dot == nullptr) return lowerCase[0] == '\0';
    const char* c = dot + 1;
    for (; *c != '\0' && *lowerCase != '\0'; ++c, ++lowerCase)
        if (LowerAscii(*c) != *lowerCase) return false;
    return *c == '\0' && *lowerCase == '\0';
}

ZUtils::String GetExtension(const char* path) noexcept {
    ZUtils::String extension;
    if (path == nullptr) return extension;
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr) return extension;
    for (const char* c = dot + 1; *c != '\0'; ++c)
        extension.Append(LowerAscii(*c));
    return extension;
}
