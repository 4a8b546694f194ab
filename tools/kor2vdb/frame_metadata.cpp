#include "frame_metadata.h"

#include <cstring>
#include <fstream>

#include "korloader/korloader.h"
#include "plugin_sdk/kor_plugin.h"

namespace Kor2Vdb {

namespace {

// The frame behind an IKor pointer: IKor is its only base, so the addresses
// are the same.
const KorPlugin::FrameLayout* Layout(IKor* frame) {
    return KorPlugin::Frame(reinterpret_cast<OstrelFrameData*>(frame));
}

// Little-endian reads at absolute positions; false past the end.
class FileReader {
public:
    explicit FileReader(const std::string& path) : in_(path, std::ios::binary) {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = static_cast<int64_t>(in_.tellg());
        }
    }
    int64_t Size() const { return size_ > 0 ? size_ : 0; }
    bool Read(int64_t at, void* out, int64_t bytes) {
        if (at < 0 || bytes < 0 || at > Size() - bytes) return false;
        in_.seekg(at);
        in_.read(static_cast<char*>(out), bytes);
        return static_cast<bool>(in_);
    }
    template <class T>
    bool Get(int64_t at, T* value) {
        return Read(at, value, sizeof(T));
    }

private:
    std::ifstream in_;
    int64_t size_ = -1;
};

constexpr int32_t kGroupDirectoryChunk = 1000, kInfoTextChunk = 1001, kEndOfChunks = 9999999;
constexpr int32_t kAfterGroupDirectory = 100000;  // stored behind chunk 1000, outside its size

}  // namespace

uint32_t StoredChannels(IKor* frame) { return Layout(frame)->channelMask; }

int32_t StoredFrameNumber(IKor* frame) { return Layout(frame)->frameNumber; }

double StoredTime(IKor* frame) {
    double time = 0.0;
    std::memcpy(&time, Layout(frame)->simInfo + 8, sizeof time);
    return time;
}

std::string ReadInfoText(const std::string& path) {
    FileReader file(path);
    const int64_t end = file.Size();
    // Trailer: data offset, version, "KORA2OST".
    char magic[8];
    int32_t version = 0;
    if (!file.Read(end - 8, magic, 8) || std::memcmp(magic, "KORA2OST", 8) != 0 || !file.Get(end - 12, &version))
        return "";
    const bool wide = version >= 4;  // 64-bit chunk sizes and data offset
    int64_t offset = 0;
    if (wide) {
        if (!file.Get(end - 20, &offset)) return "";
    } else {
        int32_t narrow = 0;
        if (!file.Get(end - 16, &narrow)) return "";
        offset = narrow;
    }
    const int64_t limit = end - (wide ? 20 : 16);
    if (offset < 0 || offset > limit) return "";
    // Chunks: id, size, payload; each step moves forward, so this ends.
    for (int64_t at = offset + 4; at < limit;) {
        int32_t id = 0;
        int64_t size = 0;
        if (!file.Get(at, &id) || id == kEndOfChunks) return "";
        at += 4;
        if (wide) {
            if (!file.Get(at, &size)) return "";
            at += 8;
        } else {
            int32_t narrow = 0;
            if (!file.Get(at, &narrow)) return "";
            size = narrow;
            at += 4;
        }
        if (size < 0 || size > limit - at) return "";
        if (id == kInfoTextChunk) {
            int32_t length = 0;
            if (!file.Get(at, &length) || length < 0 || length > size - 4) return "";
            std::string text(static_cast<size_t>(length), '\0');
            return file.Read(at + 4, text.data(), length) ? text : "";
        }
        at += size;
        if (id == kGroupDirectoryChunk) {
            int32_t marker = 0;
            if (file.Get(at, &marker) && marker == kAfterGroupDirectory) at += 4;
            if (version < 3) return "";  // older files end their chunks here
        }
    }
    return "";
}

}  // namespace Kor2Vdb
