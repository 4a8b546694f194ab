// Import plug-in modules fill the frame through KorPlugin::FrameLayout, a copy
// of the frame's leading members. Any drift between the two breaks every
// module silently, so it is refused here at compile time.
#include <cstddef>

#include "frame/ostrel_frame_data.h"
#include "plugin_sdk/kor_plugin.h"

// The frame has virtual functions, so offsetof is only conditionally
// supported for it; both compilers support it for this single-inheritance case.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace {
using KorPlugin::FrameLayout;
#define KOR_SAME_OFFSET(member) \
    static_assert(offsetof(OstrelFrameData, member) == offsetof(FrameLayout, member), #member " moved")
KOR_SAME_OFFSET(flags);
KOR_SAME_OFFSET(compressedBlock);
KOR_SAME_OFFSET(compressedLength);
KOR_SAME_OFFSET(channelMask);
KOR_SAME_OFFSET(groups);
KOR_SAME_OFFSET(nx);
KOR_SAME_OFFSET(ny);
KOR_SAME_OFFSET(nz);
KOR_SAME_OFFSET(frameNumber);
KOR_SAME_OFFSET(simInfo);
KOR_SAME_OFFSET(tag9Value);
KOR_SAME_OFFSET(transform);
KOR_SAME_OFFSET(timeStep);
KOR_SAME_OFFSET(auxTransforms);
KOR_SAME_OFFSET(channels);
#undef KOR_SAME_OFFSET
static_assert(sizeof(OstrelFrameData::groups) == sizeof(FrameLayout::groups), "group array size changed");
static_assert(sizeof(OstrelFrameData::channels) == sizeof(FrameLayout::channels), "channel table size changed");
}  // namespace

#pragma GCC diagnostic pop
