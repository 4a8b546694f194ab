// One reference to a frame of the library's frame cache. Every Python object
// that needs the frame alive (a Frame, a Group, each array viewing a
// channel) holds its own, so the frame is given back with deleteIKor() only
// when the last of them is gone, on whichever thread that happens.
#pragma once
#include <memory>
#include <string>
#include <vector>

class IKor;

namespace KorPython {

class FrameRef {
public:
    struct Opened {
        std::unique_ptr<FrameRef> ref;  // null when the open failed
        int status = 0;                 // the load status
        std::vector<std::string> log;   // what the library logged for a failed open
    };

    // Opens `path` with `mapping`, or with the path's default mapping when
    // `mapping` is null, as newIKor() would. Takes the library mutex: call
    // it with the GIL released.
    static Opened Open(const std::string& path, const std::string* mapping);

    ~FrameRef();  // deleteIKor(), under the library mutex
    FrameRef(const FrameRef&) = delete;
    FrameRef& operator=(const FrameRef&) = delete;

    // Another reference to the same frame, taken through the frame cache
    // (a hit: nothing is read). Null when the library is out of memory.
    // Takes the library mutex briefly: call it with the GIL held, so that no
    // Python thread can give this reference back meanwhile.
    std::unique_ptr<FrameRef> Retain() const;

    IKor* Frame() const noexcept { return frame_; }
    const std::string& Path() const noexcept { return path_; }
    const std::string& Mapping() const noexcept { return mapping_; }

private:
    FrameRef(IKor* frame, std::string path, std::string mapping) noexcept;
    IKor* frame_;
    std::string path_;
    std::string mapping_;
};

}  // namespace KorPython
