// The contract between korloader and its import plug-in modules.
//
// A module is a shared library that korloader loads at run time when the host
// calls initalizeKoraLoader(): "vdbplug" reads OpenVDB files, "f3dplug" reads
// Field3D files. The library never links a module and a module never links
// the library; they meet only through the undecorated C entry points below,
// the two records of namespace CacheIO and the frame layout of FrameLayout.
//
// Building a module: compile this header's companion sources into it (the
// CMake target `korloader_plugin_sdk` does that: it adds the include paths,
// the library's string and UTF-8 code and kor_plugin_support.cpp, defines
// KOR_PLUGIN_MODULE and hides every symbol but the entry points). Define the
// entry points with KOR_PLUGIN_EXPORT; the declarations below then make the
// compiler check their signatures.
//
// Entry points (looked up by name; all must exist for the module to be used):
//
//   int  Initialize(void)
//        Called once after loading. 0 = ready; anything else = the library
//        never calls the module again (it stays loaded).
//   void SetThreadManager(void* manager), void ReleaseThreadManager(void)
//        Never called, but required.
//   int  ImportFrameVDB(path, frame, axisResult, flag, mappings, count)   vdbplug
//   int  ImportFrameF3D(path, frame, flag, mappings, count)               f3dplug
//        Fill `frame` from the file at `path` (UTF-8). `flag` is always 0.
//        `mappings[0..count-1]` say which grid of the file goes to which
//        grid channel (KorGridChannel of korloader/korloader.h), and with
//        which scale; count >= 1. The channel number is whatever the host
//        wrote into its mapping string: ignore numbers outside
//        0..KOR_GRID_LAST_CHANNEL (SetChannel does). Return 0 on success; any
//        other value is handed to the host's load unchanged and the frame is
//        destroyed, so use codes other than 2, 3, 4 and 9 (the library's own).
//        vdbplug also writes *axisResult: 0 lets the library turn the axes
//        for axis mode 1, anything else keeps the transform as written.
//   void GetAvailableChannels(path, list)
//        Append one record per grid of the file to `list` (name, and a flag
//        byte: non-zero marks a grid that must never be picked as the default
//        smoke channel). Append nothing for a file that cannot be read.
//   ExportFrame (vdbplug only, optional)   never called.
//
// Ownership of what a module hands over:
// - The frame belongs to the library. Before an import it is fresh: no
//   channel arrays, channel mask 0, grid 0 x 0 x 0, identity transform.
//   (Arrays the library decodes itself are made another way; a module never
//   sees one.)
//   A module writes only nx, ny, nz, transform, channelMask and channels[]
//   (SetGrid and SetChannel below).
// - A channel array holds at least nx*ny*nz floats (cell (i,j,k) at
//   i + nx*j + nx*ny*k), comes from NewChannelArray() (array new) and is
//   owned by the frame from the moment it is stored: the frame releases it
//   with array delete. Use SetChannel(), which also sets the mask bit and
//   releases an array it replaces.
// - Records appended to `list` (and the growth of `list` itself) allocate
//   through ZUtils::AllocBytes, which in a module is plain malloc (see
//   kor_plugin_support.cpp); the library releases them with free(). Module
//   and library must therefore share the C run-time heap, as they do when
//   built with the same toolchain.
// - `mappings` and `path` belong to the library and live for the call only.
//
// Threads: the library calls a module from one host thread at a time per
// frame load; modules must not keep pointers to the frame after returning.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>

#include "korloader/korloader.h"
#include "util/iarray.h"
#include "util/kor_string.h"

// The library's frame object. Opaque to a module: reach its fields through
// KorPlugin::Frame().
class OstrelFrameData;

namespace CacheIO {

// One channel mapping: grid `name` of the foreign file fills grid channel
// `channel`, multiplied by `scale`. Handed to the importers as a contiguous
// array, 24 bytes per record.
struct GridMapping {
    ZUtils::String name;
    int32_t channel = 0;
    float scale = 1.0f;
    int32_t extra = 0;  // 0 in every mapping the library makes
    int32_t padding = 0;
};
static_assert(sizeof(GridMapping) == 24, "GridMapping is a 24-byte record");

// One grid of a foreign file as listed by GetAvailableChannels: 16 bytes.
struct AvailableChannels {
    ZUtils::String name;
    uint8_t flag = 0;  // non-zero: never the default smoke channel
    uint8_t padding[7] = {};
};
static_assert(sizeof(AvailableChannels) == 16, "AvailableChannels is a 16-byte record");

}  // namespace CacheIO

namespace KorPlugin {

// The leading members of the library's frame, in its memory order. The
// library checks at compile time that its frame has exactly this layout.
struct FrameLayout {
    const void* vtable;
    uint8_t flags;
    int32_t* compressedBlock;
    int32_t compressedLength;
    uint32_t channelMask;  // bit c: grid channel c present
    struct {
        const void* vtable;
        void* data;
        int32_t count, capacity, growthDivisor;
    } groups;
    int32_t nx, ny, nz;
    int32_t frameNumber;
    uint8_t simInfo[392];
    float tag9Value;
    float transform[12];  // axis vectors a, b, c, then the offset
    float timeStep;
    float auxTransforms[3][12];
    float* channels[KOR_GRID_CHANNEL_COUNT];  // by KorGridChannel id
};

inline FrameLayout* Frame(OstrelFrameData* frame) noexcept { return reinterpret_cast<FrameLayout*>(frame); }

// A channel array of `cells` floats, uninitialised; null when memory is short.
inline float* NewChannelArray(size_t cells) noexcept {
    try {
        return new (std::nothrow) float[cells ? cells : 1];
    } catch (...) {  // a length that cannot be represented throws even with nothrow
        return nullptr;
    }
}

inline void DeleteChannelArray(float* array) noexcept { delete[] array; }

inline void SetGrid(OstrelFrameData* frame, int32_t nx, int32_t ny, int32_t nz, const float transform[12]) noexcept {
    FrameLayout* f = Frame(frame);
    f->nx = nx;
    f->ny = ny;
    f->nz = nz;
    for (int i = 0; i < 12; ++i) f->transform[i] = transform[i];
}

// Gives `array` to the frame as grid channel `channel` and marks it present.
// An array already there is released. A channel outside
// 0..KOR_GRID_LAST_CHANNEL is refused: the array is released and false returned.
inline bool SetChannel(OstrelFrameData* frame, int channel, float* array) noexcept {
    if (channel < 0 || channel > KOR_GRID_LAST_CHANNEL) {
        DeleteChannelArray(array);
        return false;
    }
    FrameLayout* f = Frame(frame);
    DeleteChannelArray(f->channels[channel]);
    f->channels[channel] = array;
    if (array != nullptr)
        f->channelMask |= 1u << channel;
    else
        f->channelMask &= ~(1u << channel);
    return true;
}

// Appends one grid to a GetAvailableChannels list. False when memory is short
// (nothing is appended then).
inline bool AppendAvailableChannel(iArray<CacheIO::AvailableChannels>* list, const char* name,
                                   uint8_t flag) noexcept {
    if (list == nullptr) return false;
    CacheIO::AvailableChannels record;
    if (!record.name.Assign(name)) return false;
    record.flag = flag;
    return list->Append(record);
}

}  // namespace KorPlugin

// Entry point types, as the library calls them.
extern "C" {
typedef int (*KorPluginInitializeFn)(void);
typedef void (*KorPluginSetThreadManagerFn)(void* manager);
typedef void (*KorPluginReleaseThreadManagerFn)(void);
typedef int (*KorPluginImportFrameF3DFn)(const char* path, OstrelFrameData* frame, unsigned char flag,
                                         const CacheIO::GridMapping* mappings, int count);
typedef int (*KorPluginImportFrameVDBFn)(const char* path, OstrelFrameData* frame, int* axisResult,
                                         unsigned char flag, const CacheIO::GridMapping* mappings, int count);
typedef void (*KorPluginGetAvailableChannelsFn)(const char* path, iArray<CacheIO::AvailableChannels>* list);
}

#if defined(KOR_PLUGIN_MODULE)
#if defined(_WIN32)
#define KOR_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define KOR_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Declarations of the entry points, so that a module's definitions are
// checked against the contract. A module defines the ones of its kind.
KOR_PLUGIN_EXPORT int Initialize(void);
KOR_PLUGIN_EXPORT void SetThreadManager(void* manager);
KOR_PLUGIN_EXPORT void ReleaseThreadManager(void);
KOR_PLUGIN_EXPORT int ImportFrameF3D(const char* path, OstrelFrameData* frame, unsigned char flag,
                                     const CacheIO::GridMapping* mappings, int count);
KOR_PLUGIN_EXPORT int ImportFrameVDB(const char* path, OstrelFrameData* frame, int* axisResult, unsigned char flag,
                                     const CacheIO::GridMapping* mappings, int count);
KOR_PLUGIN_EXPORT void GetAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>* list);
#endif
