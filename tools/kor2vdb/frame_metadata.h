// What a frame says about itself beyond its grids: its number, its time, its
// info text, and which channels its file really stores.
//
// The public interface hands out none of these. The frame's leading members
// are the published layout of the plug-in SDK (KorPlugin::FrameLayout, which
// the library checks at compile time), so number, time and channel mask are
// read there; the info text is read from the cache file's own chunk.
#pragma once
#include <cstdint>
#include <string>

class IKor;

namespace Kor2Vdb {

struct FrameMetadata {
    int32_t frame = 0;
    double time = 0.0;
    std::string info;
};

// The channel mask: bit c set when channel c is stored (speed is not, when
// the frame derives it from velocity).
uint32_t StoredChannels(IKor* frame);

int32_t StoredFrameNumber(IKor* frame);
double StoredTime(IKor* frame);

// The info text of a .kor file (its chunk 1001), "" when it has none or the
// chunk area cannot be followed. Every size is checked against the file.
std::string ReadInfoText(const std::string& path);

}  // namespace Kor2Vdb
