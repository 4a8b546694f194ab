// The compressed channel block of a frame: a sequence of records
//   int32 channel id; int32 body length L (words); L words of body
// The next record starts L + 2 words after this one. A record with L < 1, or
// fewer than 2 words left, ends the directory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace KorFrame {

struct ChannelRecord {
    const uint8_t* body = nullptr;
    size_t bodyBytes = 0;
};

enum class RecordLookup { Found, Absent, Damaged };

// Finds the first record of `channel`. A matching record whose body runs past
// the block is Damaged; a non-matching one that does so ends the directory.
RecordLookup FindChannelRecord(const int32_t* words, int32_t wordCount, int channel, ChannelRecord& record) noexcept;

// Walks the records in stored order, calling
//   bool visit(int32_t channel, const uint8_t* body, size_t bodyBytes, bool complete)
// until it returns false or the directory ends. `complete` is false for a
// record whose body runs past the block (its bytes are cut to what is there);
// the walk ends after such a record.
template <class Visit>
void WalkChannelRecords(const int32_t* words, int32_t wordCount, Visit&& visit) {
    int64_t at = 0;
    while (words != nullptr && at + 2 <= wordCount) {
        const int32_t id = words[at];
        const int64_t length = words[at + 1];
        if (length < 1) break;
        const int64_t available = wordCount - (at + 2);
        const bool complete = length <= available;
        const auto* body = reinterpret_cast<const uint8_t*>(words + at + 2);
        if (!visit(id, body, static_cast<size_t>(complete ? length : available) * 4, complete) || !complete) break;
        at += length + 2;
    }
}

}  // namespace KorFrame
