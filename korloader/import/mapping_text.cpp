#include "import/mapping_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

using CacheIO::GridMapping;
using CacheIO::GridMappings;

namespace {

// atoi over [begin, end), clamped to the int range instead of overflowing.
int ParseChannelNumber(const char* begin, const char* end) noexcept {
    const char* c = begin;
    while (c < end && (*c == ' ' || (*c >= '\t' && *c <= '\r'))) ++c;
    bool negative = false;
    if (c < end && (*c == '+' || *c == '-')) negative = *c++ == '-';
    int64_t value = 0;
    for (; c < end && *c >= '0' && *c <= '9'; ++c)
        if (value <= INT32_MAX) value = value * 10 + (*c - '0');
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

}  // namespace

bool NextMappingEntry(const char*& at, MappingEntry& entry) noexcept {
    if (at == nullptr || *at == '\0') return false;
    const char* comma = std::strchr(at, ',');
    if (comma == nullptr) return false;  // an entry without ',' names no grid
    const char* name = comma + 1;
    const char* semicolon = std::strchr(name, ';');
    const char* nameEnd = semicolon != nullptr ? semicolon : name + std::strlen(name);
    entry.channel = ParseChannelNumber(at, comma);
    entry.name = name;
    entry.nameLength = static_cast<size_t>(nameEnd - name);
    at = semicolon != nullptr ? semicolon + 1 : nameEnd;
    return true;
}

// Built in place: a copy would allocate the name a second time.
bool AppendMapping(GridMappings& list, const char* name, size_t nameLength, int channel) noexcept {
    const int32_t at = list.Count();
    if (!list.SetSize(at + 1)) return false;
    GridMapping& mapping = list[at];
    if (!mapping.name.Assign(name, nameLength)) {
        list.SetSize(at);
        return false;
    }
    mapping.channel = channel;
    return true;
}

bool ComposeMappingString(const GridMappings& list, ZUtils::String& text) noexcept {
    text.Clear();
    for (const GridMapping& mapping : list) {
        char number[16];
        const int n = std::snprintf(number, sizeof number, "%d,", mapping.channel);
        if (!text.Append(number, static_cast<size_t>(n)) ||
            !text.Append(mapping.name.c_str(), static_cast<size_t>(mapping.name.Length())) || !text.Append(';'))
            return false;
    }
    return true;
}

bool ParseMappingString(const char* text, GridMappings& list) noexcept {
    MappingEntry entry;
    for (const char* at = text; NextMappingEntry(at, entry);)
        if (!AppendMapping(list, entry.name, entry.nameLength, entry.channel)) return false;
    return true;
}
