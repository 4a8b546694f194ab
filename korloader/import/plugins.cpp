#include <cstdint>
#include <cstring>

#include "diag/log.h"
#include "frame/load_status.h"
#include "frame/ostrel_frame_data.h"
#include "import/importers.h"
#include "import/mapping_text.h"
#include "import/plugin_files.h"
#include "platform/platform.h"
#include "util/nothrow_new.h"

using namespace KorFrame;

namespace {

// One module's handle and entry points. `import` is ImportFrameF3D or
// ImportFrameVDB by the module's kind.
struct Module {
    void* handle;
    KorPluginInitializeFn initialize;
    KorPluginSetThreadManagerFn setThreadManager;
    KorPluginReleaseThreadManagerFn releaseThreadManager;
    void* import;
    KorPluginGetAvailableChannelsFn getAvailableChannels;
    void* exportFrame;  // OpenVDB only, optional, never called
};

// Process-wide plug-in state: plain data, set by initalizeKoraLoader and
// cleared when the library is unloaded. Not locked (hosts initialise once,
// before opening frames).
Module g_f3d = {};
Module g_vdb = {};
int g_axisMode = 0;

enum class Kind { F3D, VDB };

const char* BaseName(Kind kind) { return kind == Kind::F3D ? "f3dplug" : "vdbplug"; }

bool Ready(const Module& m) noexcept {
    return m.initialize != nullptr && m.setThreadManager != nullptr && m.releaseThreadManager != nullptr &&
           m.import != nullptr && m.getAvailableChannels != nullptr;
}

void ClearEntryPoints(Module& m) noexcept {
    void* handle = m.handle;
    m = Module{};
    m.handle = handle;
}

template <class Fn>
Fn Symbol(void* handle, const char* name) noexcept {
    return reinterpret_cast<Fn>(KorPlatform::FindModuleSymbol(handle, name));
}

// Loads, resolves and initialises one module. A module that was loaded
// before is not touched again.
bool LoadPlugin(Module& m, Kind kind, const char* directories, const char* suffix) noexcept {
    // A module already loaded counts as it is: once its entry points were
    // cleared it stays unusable, and saying otherwise would promise imports
    // that then answer "not ready".
    if (m.handle != nullptr) return Ready(m);
    ZUtils::String file;
    if (!KorImport::ChoosePluginFile(BaseName(kind), directories, suffix, file)) return false;
    m.handle = KorPlatform::LoadModule(file.c_str());
    if (m.handle == nullptr) return false;

    m.initialize = Symbol<KorPluginInitializeFn>(m.handle, "Initialize");
    m.setThreadManager = Symbol<KorPluginSetThreadManagerFn>(m.handle, "SetThreadManager");
    m.releaseThreadManager = Symbol<KorPluginReleaseThreadManagerFn>(m.handle, "ReleaseThreadManager");
    m.import = KorPlatform::FindModuleSymbol(m.handle, kind == Kind::F3D ? "ImportFrameF3D" : "ImportFrameVDB");
    m.getAvailableChannels = Symbol<KorPluginGetAvailableChannelsFn>(m.handle, "GetAvailableChannels");
    if (kind == Kind::VDB) m.exportFrame = KorPlatform::FindModuleSymbol(m.handle, "ExportFrame");
    if (!Ready(m)) {
        ClearEntryPoints(m);
        return false;
    }
    int result = -1;
    try {
        result = m.initialize();
    } catch (...) {
        result = -1;
    }
    if (result != 0) {
        ClearEntryPoints(m);
        return false;
    }
    return true;
}

void ListChannels(const Module& m, const char* path, iArray<CacheIO::AvailableChannels>& list) noexcept {
    if (!Ready(m)) return;
    try {
        m.getAvailableChannels(path, &list);
    } catch (...) {
    }
}

// Flips the IEEE sign bit, so that zeros and NaNs change sign too.
float Negated(float value) noexcept {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits ^= 0x80000000u;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// b := -c, c := b (OpenVDB, axis mode 1) or b := c, c := -b (Field3D, mode 2)
// on the axis vectors b (transform[3..5]) and c (transform[6..8]).
void TurnAxes(float* transform, Kind kind) noexcept {
    for (int i = 0; i < 3; ++i) {
        const float b = transform[3 + i];
        const float c = transform[6 + i];
        if (kind == Kind::VDB) {
            transform[3 + i] = Negated(c);
            transform[6 + i] = b;
        } else {
            transform[3 + i] = c;
            transform[6 + i] = Negated(b);
        }
    }
}

// A velocity field needs all three components: with fewer, none is kept.
void KeepWholeVelocity(OstrelFrameData& frame) noexcept {
    int present = 0;
    for (int c = KOR_GRID_VELOCITY_X; c <= KOR_GRID_VELOCITY_Z; ++c)
        if (frame.channels[c] != nullptr || frame.HasChannel(c)) ++present;
    if (present == 3) return;
    for (int c = KOR_GRID_VELOCITY_X; c <= KOR_GRID_VELOCITY_Z; ++c) {
        frame.channelMask &= ~(1u << c);
        deleteArray(frame.channels[c]);
    }
}

int Import(Kind kind, const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept {
    if (frame == nullptr) return kNoUsableFile;
    frame->ResetFrame(flag);
    const Module& m = kind == Kind::F3D ? g_f3d : g_vdb;
    if (!Ready(m)) return kModuleNotReady;

    CacheIO::GridMappings mappings;
    if (!ParseMappingString(mapping, mappings)) return kDamagedFile;
    if (mappings.Count() == 0) {
        if (kind == Kind::F3D)
            LogPrint("Trying to import F3D files with no mappings specified!\n");
        else
            LogPrint("Trying to import VDB files with no mappings specified!\n");
        return kNoMapping;
    }

    // A module would block on a FIFO, or read a device without end.
    if (LogNotARegularFile(path)) return kNoUsableFile;

    int axisResult = 0;
    int status;
    try {
        if (kind == Kind::F3D)
            status = reinterpret_cast<KorPluginImportFrameF3DFn>(m.import)(path, frame, flag, mappings.Data(),
                                                                           mappings.Count());
        else
            status = reinterpret_cast<KorPluginImportFrameVDBFn>(m.import)(path, frame, &axisResult, flag,
                                                                           mappings.Data(), mappings.Count());
    } catch (...) {
        status = kDamagedFile;
    }
    if (status != kLoaded) {
        // A host gets a null frame; the log says which file and why.
        LogPrint("%s import of %s failed: module code %d\n", kind == Kind::F3D ? "F3D" : "VDB",
                 path != nullptr ? path : "(no path)", status);
        return status;
    }

    KeepWholeVelocity(*frame);
    // The frame's channels are already decoded; the one-word block only
    // marks the frame as loaded. It holds no channel record.
    if (!newArray(frame->compressedBlock, 1)) return kDamagedFile;
    frame->compressedBlock[0] = 0;
    frame->compressedLength = 1;
    if (kind == Kind::VDB && g_axisMode == 1 && axisResult == 0) TurnAxes(frame->transform, kind);
    if (kind == Kind::F3D && g_axisMode == 2) TurnAxes(frame->transform, kind);
    return kLoaded;
}

}  // namespace

int LoadImportPlugins(int which, const char* directories, const char* suffix, int axisMode) noexcept {
    g_axisMode = axisMode;
    int ready = 0;
    if ((which & 1) && LoadPlugin(g_f3d, Kind::F3D, directories, suffix)) ready |= 1;
    if ((which & 2) && LoadPlugin(g_vdb, Kind::VDB, directories, suffix)) ready |= 2;
    return ready;
}

bool IsF3dPluginReady() noexcept { return Ready(g_f3d); }

bool IsVdbPluginReady() noexcept { return Ready(g_vdb); }

int ImportF3D(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept {
    return Import(Kind::F3D, path, frame, mapping, flag);
}

int ImportVDB(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept {
    return Import(Kind::VDB, path, frame, mapping, flag);
}

void GetF3dAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>& list) noexcept {
    ListChannels(g_f3d, path, list);
}

void GetVdbAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>& list) noexcept {
    ListChannels(g_vdb, path, list);
}

void ReleaseImportPlugins() noexcept {
    for (Module* m : {&g_vdb, &g_f3d}) {
        KorPlatform::FreeModule(m->handle);
        *m = Module{};
    }
}
