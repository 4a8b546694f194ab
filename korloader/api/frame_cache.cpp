#include "api/frame_cache.h"

#include <cstdint>

#include "api/load_frame.h"
#include "diag/log.h"
#include "frame/load_status.h"
#include "frame/ostrel_frame_data.h"
#include "import/importers.h"
#include "util/nothrow_new.h"

namespace OstrelFrame {
namespace {

// Defined before the cache so that it is destroyed after it: at unload the
// frames go first, then the import modules whose memory they may hold.
ImportPluginsUnloader g_unloadPlugins;
FrameDataArray g_frames;

uint32_t LowAddressBits(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Takes a reference: a frame already in the cache is counted up; a new one
// enters the cache with count 1. False when the cache cannot grow: a frame
// handed out outside the cache could never be released, so the caller
// destroys it and the open fails like any other out-of-memory load.
bool AddFrameRef(OstrelFrameData* frame) {
    if (g_frames.Find(frame) >= 0) {
        ++frame->refCount;
    } else {
        if (!g_frames.Append(frame)) return false;
        frame->refCount = 1;
    }
    LogPrint("OstrelFrameData refCount++ %08X %d, %s\n", LowAddressBits(frame), frame->refCount, frame->path.c_str());
    return true;
}

}  // namespace

FrameDataArray& Frames() noexcept { return g_frames; }

int32_t FindFrame(const IKor* handle) noexcept {
    for (int32_t i = 0; i < g_frames.Count(); ++i)
        if (static_cast<const IKor*>(g_frames[i]) == handle) return i;
    return -1;
}

FrameDataArray::~FrameDataArray() {
    for (int32_t i = Count() - 1; i >= 0; --i) {
        OstrelFrameData* frame = (*this)[i];
        LogPrint("Ostrel cache file not released %d ref:%d\n", frame->frameNumber, frame->refCount);
        delete frame;
    }
    Free();
}

IKor* OpenFrame(const char* path, const char* mapping, int* status) noexcept {
    auto result = [status](int code, IKor* frame) {
        if (status != nullptr) *status = code;
        return frame;
    };
    if (mapping == nullptr) mapping = "";
    // A hit is found by comparing in place: it needs no memory.
    for (OstrelFrameData* frame : g_frames) {
        if (frame->path.Equals(path) && frame->mapping.Equals(mapping) && path != nullptr && path[0] != '\0') {
            return AddFrameRef(frame) ? result(KorFrame::kLoaded, frame) : result(KorFrame::kDamagedFile, nullptr);
        }
    }
    OstrelFrameData* frame = newObject<OstrelFrameData>();
    if (frame == nullptr) return result(KorFrame::kDamagedFile, nullptr);
    // The sharing key must be stored whole, or the frame could be found
    // under another key later. Memory running out counts as status 4.
    const int loaded = LoadCacheFile(*frame, path, mapping);
    if (loaded != KorFrame::kLoaded || !frame->path.Assign(path) || !frame->mapping.Assign(mapping) ||
        !AddFrameRef(frame)) {
        delete frame;
        return result(loaded != KorFrame::kLoaded ? loaded : KorFrame::kDamagedFile, nullptr);
    }
    return result(KorFrame::kLoaded, frame);
}

void ReleaseFrame(IKor* handle) noexcept {
    if (handle == nullptr) return;
    // The host may hand back anything: look it up before treating it as a frame.
    const int32_t index = FindFrame(handle);
    if (index < 0) return;
    OstrelFrameData* frame = g_frames[index];
    --frame->refCount;
    LogPrint("OstrelFrameData refCount-- %08X %d, %s\n", LowAddressBits(frame), frame->refCount, frame->path.c_str());
    if (frame->refCount > 0) return;
    delete frame;
    g_frames.RemoveSwapLast(index);
}

}  // namespace OstrelFrame
