// Import of OpenVDB and Field3D frames through the plug-in modules.
#pragma once

class OstrelFrameData;

// Loads the modules asked for by `which` (bit 0 Field3D, bit 1 OpenVDB).
// Returns the readiness bits (bit 0 Field3D, bit 1 OpenVDB).
int LoadImportPlugins(int which, const char* directories, const char* suffix, int axisMode) noexcept;

// Status: 0 success, 2 module not ready, 9 no mapping, else the module's code.
int ImportF3D(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept;
int ImportVDB(const char* path, OstrelFrameData* frame, const char* mapping, unsigned char flag) noexcept;
