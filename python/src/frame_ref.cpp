#include "frame_ref.h"

#include <mutex>
#include <new>

#include "api/frame_cache.h"
#include "korloader/korloader.h"
#include "library_lock.h"
#include "log_lines.h"
#include "text_buffers.h"

namespace KorPython {
namespace {
constexpr int kOutOfMemory = 4;  // the load status of a frame that could not be made
}

FrameRef::FrameRef(IKor* frame, std::string path, std::string mapping) noexcept
    : frame_(frame), path_(std::move(path)), mapping_(std::move(mapping)) {}

FrameRef::~FrameRef() {
    if (frame_ == nullptr) return;
    std::lock_guard<std::mutex> lock(LibraryMutex());
    deleteIKor(frame_);
}

FrameRef::Opened FrameRef::Open(const std::string& path, const std::string* mapping) {
    Opened opened;
    std::string key;
    std::string keyPath = path;
    std::lock_guard<std::mutex> lock(LibraryMutex());
    ThreadLog log;
    // What newIKor() does, with the status kept: the default mapping, then the open.
    if (mapping != nullptr)
        key = *mapping;
    else
        key = ReadWholeText(
            [&](char* out, int length) { return korGenerateDefaultChannelMappings(out, length, path.c_str()); });
    IKor* frame = OstrelFrame::OpenFrame(path.c_str(), key.c_str(), &opened.status);
    if (frame != nullptr) {
        opened.ref.reset(new (std::nothrow) FrameRef(frame, std::move(keyPath), std::move(key)));
        if (opened.ref == nullptr) {
            deleteIKor(frame);
            opened.status = kOutOfMemory;
        }
    }
    if (opened.ref == nullptr) opened.log = log.Take();
    return opened;
}

std::unique_ptr<FrameRef> FrameRef::Retain() const {
    // Made before the reference is taken, so that nothing can fail after it.
    std::unique_ptr<FrameRef> ref(new FrameRef(nullptr, path_, mapping_));
    {
        std::lock_guard<std::mutex> lock(LibraryMutex());
        IKor* frame = newIKorWithChannelsMapping(path_.c_str(), mapping_.c_str());
        // Always this frame while this reference keeps it in the cache; any
        // other answer is given back.
        if (frame == frame_)
            ref->frame_ = frame;
        else
            deleteIKor(frame);
    }
    if (ref->frame_ == nullptr) return nullptr;
    return ref;
}

}  // namespace KorPython
