// The process-wide frame cache: every frame handed out, shared by (path,
// mapping) under a reference count. Not locked: hosts call the factories and
// deleteIKor from one thread at a time.
#pragma once
#include "util/iarray.h"

class IKor;
class OstrelFrameData;

namespace OstrelFrame {

class FrameDataArray : public iArray<OstrelFrameData*> {
public:
    FrameDataArray() noexcept : iArray<OstrelFrameData*>(4) {}
    // Reports ("Ostrel cache file not released %d ref:%d\n") and destroys
    // every frame the host did not release.
    ~FrameDataArray() override;
};

FrameDataArray& Frames() noexcept;

// The factories' work: a shared frame for (path, mapping), or null. When
// `status` is given it receives the load status: 0, or why the open failed
// (3 no usable path or file, 4 damaged file or no memory, an importer's code).
IKor* OpenFrame(const char* path, const char* mapping, int* status = nullptr) noexcept;
// deleteIKor's work.
void ReleaseFrame(IKor* frame) noexcept;
// Index of a handed-out pointer in the cache, or -1. Safe for any pointer:
// it is only compared, never dereferenced.
int32_t FindFrame(const IKor* handle) noexcept;

}  // namespace OstrelFrame
