// The text surfaces: mapping strings (parse, compose, the four export
// bodies that work on text), path templates and frame numbers, extensions,
// and the UTF-8 to UTF-16 rule that every path goes through.
//
// Input: one selector byte, then text. Text is cut at its first NUL; what
// follows the NUL is a second string (a fallback text, or names).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_options.h"
#include "import/default_mappings.h"
#include "paths/frame_paths.h"
#include "util/utf8.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A caller's buffer: always terminated, and "fitted" exactly when the
// whole text was below the length.
void CheckBuffer(const char* out, int outLen, int result, size_t fullLength) {
    if (outLen < 1) return;
    const size_t written = strnlen(out, static_cast<size_t>(outLen));
    Check(written < static_cast<size_t>(outLen));
    if (result == 1) Check(written == fullLength);
    if (result == 0) Check(written == static_cast<size_t>(outLen) - 1 && fullLength >= static_cast<size_t>(outLen));
}

void Mappings(const std::string& text, const std::string& second) {
    CacheIO::GridMappings list;
    if (!ParseMappingString(text.c_str(), list)) return;
    ZUtils::String composed;
    if (!ComposeMappingString(list, composed)) return;
    // Every parsed entry survives composing and parsing again.
    CacheIO::GridMappings again;
    if (!ParseMappingString(composed.c_str(), again)) return;
    Check(again.Count() == list.Count());
    for (int32_t i = 0; i < list.Count(); ++i) {
        Check(again[i].channel == list[i].channel);
        Check(again[i].name == list[i].name);
    }

    // The export bodies, over every entry and a few outside, into buffers
    // of several sizes.
    const int lengths[] = {-1, 0, 1, 2, 7, 300};
    for (int32_t index = -1; index <= list.Count() && index < 64; ++index) {
        for (int len : lengths) {
            char name[300];
            std::memset(name, 'x', sizeof name);
            int id = -12345;
            const int result = DecomposeChannelMappingsAt(&id, len > 0 ? name : nullptr, len, text.c_str(), index);
            if (index < 0 || index >= list.Count()) {
                Check(result == -1);
                continue;
            }
            Check(result == 0 || result == 1);
            Check(id == list[index].channel);
            if (len > 0) CheckBuffer(name, len, result, static_cast<size_t>(list[index].name.Length()));
        }
    }

    // Composing from pairs: names are the second string split at ';'-free
    // pieces, ids from the text's bytes.
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= second.size() && names.size() < 16) {
        size_t end = second.find('\n', start);
        if (end == std::string::npos) end = second.size();
        names.push_back(second.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> pointers;
    std::vector<int> ids;
    for (size_t i = 0; i < names.size(); ++i) {
        pointers.push_back(names[i].c_str());
        ids.push_back(i < text.size() ? static_cast<signed char>(text[i]) * 1000003 : 0);
    }
    for (int len : lengths) {
        char out[300];
        const int result = ComposeChannelMappingsInto(len > 0 ? out : nullptr, len, ids.data(), pointers.data(),
                                                      static_cast<int>(pointers.size()));
        Check(result == 0 || result == 1);
        if (len > 0) {
            size_t full = 0;
            for (size_t i = 0; i < names.size(); ++i) full += std::to_string(ids[i]).size() + names[i].size() + 2;
            CheckBuffer(out, len, result, full);
        }
    }
}

void Paths(const std::string& path, const std::string& fallback, int frame) {
    const int has = HasFramePattern(path.c_str());
    Check(has == 0 || has == 1);
    const ZUtils::String replaced = ReplaceFramePattern(path.c_str(), frame, fallback.c_str());
    const ZUtils::String wildcard = ReplaceFramePattern(path.c_str(), KorPaths::kNoFrame, fallback.c_str());
    // Without a placeholder anywhere, nothing is replaced.
    if (!has) {
        Check(replaced.Equals(path.c_str()));
        Check(wildcard.Equals(path.c_str()));
    }
    ParseFrameNumber(path.c_str());
    ParseFrameNumber(replaced.c_str());
    const ZUtils::String extension = GetExtension(path.c_str());
    Check(static_cast<size_t>(extension.Length()) <= path.size());
}

void Utf8(const std::string& bytes) {
    // No byte of a name is lost: UTF-8 to UTF-16 and back is the identity.
    const size_t units = ZUtils::Utf16UnitsFor(bytes.data(), bytes.size());
    Check(units <= bytes.size() * 2);
    std::vector<char16_t> wide(units + 1);
    ZUtils::ConvertUtf8ToUtf16(bytes.data(), bytes.size(), wide.data());
    const size_t back = ZUtils::Utf8BytesFor(wide.data(), units);
    Check(back == bytes.size());
    std::vector<char> narrow(back + 1);
    ZUtils::ConvertUtf16ToUtf8(wide.data(), units, narrow.data());
    Check(std::memcmp(narrow.data(), bytes.data(), back) == 0);
    // Any UTF-16 sequence at all converts to something of the announced size.
    std::vector<char16_t> raw(bytes.size() / 2 + 1);
    std::memcpy(raw.data(), bytes.data(), bytes.size() / 2 * 2);
    const size_t rawBytes = ZUtils::Utf8BytesFor(raw.data(), bytes.size() / 2);
    std::vector<char> rawOut(rawBytes + 1);
    ZUtils::ConvertUtf16ToUtf8(raw.data(), bytes.size() / 2, rawOut.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t nul = all.find('\0');
    const std::string first = all.substr(0, nul);
    const std::string second = nul == std::string::npos ? std::string() : all.substr(nul + 1);
    switch (selector % 3) {
        case 0:
            Mappings(first, second.substr(0, second.find('\0')));
            break;
        case 1: {
            int frame = static_cast<int>(selector * 16777619u);
            if (second.size() >= 4) std::memcpy(&frame, second.data(), 4);
            Paths(first, second.size() > 4 ? second.substr(4, second.find('\0', 4) - 4) : std::string(), frame);
            break;
        }
        default:
            Utf8(all);
            break;
    }
    return 0;
}
