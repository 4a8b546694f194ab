// The library's calls that fill a caller's buffer answer 1 when the text
// fitted, 0 when it was cut and -1 when the entry asked for does not exist.
// This reads a whole text, growing the buffer until it fits.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

namespace KorPython {

// Calls fill(buffer, length) until the text fits and stores it in `text`.
// False when fill answers -1.
template <class Fill>
bool ReadWholeText(Fill&& fill, std::string& text) {
    constexpr size_t kFirst = 256, kLast = size_t{1} << 30;
    std::vector<char> buffer(kFirst);
    for (;;) {
        const int result = fill(buffer.data(), static_cast<int>(buffer.size()));
        if (result < 0) return false;
        if (result == 1) {
            text.assign(buffer.data());
            return true;
        }
        if (buffer.size() >= kLast) throw std::length_error("text longer than 1 GiB");
        buffer.resize(buffer.size() * 2);
    }
}

// The same for a text that always exists.
template <class Fill>
std::string ReadWholeText(Fill&& fill) {
    std::string text;
    ReadWholeText(std::forward<Fill>(fill), text);
    return text;
}

}  // namespace KorPython
