// Import of OpenVDB and Field3D frames through the plug-in modules vdbplug
// and f3dplug (their contract: plugin_sdk/kor_plugin.h).
#pragma once
#include "plugin_sdk/kor_plugin.h"
#include "util/iarray.h"

class OstrelFrameData;

// Loads the modules asked for by `which` (bit 0 Field3D, bit 1 OpenVDB) and
// keeps `axisMode` for later imports. Returns the readiness bits (bit 0
// Field3D, bit 1 OpenVDB). A module is loaded at most once per process; a
// loaded one is reported as it is, ready or not, and never loaded again.
int LoadImportPlugins(int which, const char* directories, const char* suffix, int axisMode) noexcept;

bool IsF3dPluginReady() noexcept;
bool IsVdbPluginReady() noexcept;

// Import of one file into a frame. Status (KorFrame::LoadStatus): kLoaded,
// kModuleNotReady, kNoMapping, kDamagedFile when memory ran out, else the
// module's own code.
int ImportF3D(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept;
int ImportVDB(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept;

// Appends the grids of one file as the module lists them; nothing when the
// module is not ready.
void GetF3dAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>& list) noexcept;
void GetVdbAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>& list) noexcept;

// Releases the OpenVDB module, then the Field3D one. Only at library unload,
// after every frame is gone (a frame may hold what a module allocated).
void ReleaseImportPlugins() noexcept;

// Its destructor releases the modules. Defined once, just before the frame
// cache in the same file, so that it is destroyed after the cache.
struct ImportPluginsUnloader {
    ImportPluginsUnloader() noexcept = default;
    ImportPluginsUnloader(const ImportPluginsUnloader&) = delete;
    ImportPluginsUnloader& operator=(const ImportPluginsUnloader&) = delete;
    ~ImportPluginsUnloader() { ReleaseImportPlugins(); }
};
