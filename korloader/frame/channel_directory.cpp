#include "frame/channel_directory.h"

namespace KorFrame {

RecordLookup FindChannelRecord(const int32_t* words, int32_t wordCount, int channel, ChannelRecord& record) noexcept {
    RecordLookup result = RecordLookup::Absent;
    WalkChannelRecords(words, wordCount, [&](int32_t id, const uint8_t* body, size_t bodyBytes, bool complete) {
        if (id != channel) return true;
        result = complete ? RecordLookup::Found : RecordLookup::Damaged;
        record.body = body;
        record.bodyBytes = bodyBytes;
        return false;
    });
    return result;
}

}  // namespace KorFrame
