// Opens one frame as a host would: a .kor file directly, a .vdb or .f3d file
// through its import module with the default channel mapping. The import
// modules are loaded on the first such file only, so that a run over native
// files never pays for them.
#pragma once
#include <memory>
#include <string>
#include <vector>

class OstrelFrameData;

namespace KorInfo {

enum class FileFormat { Kor, OpenVdb, Field3d, Other };

FileFormat FormatOf(const std::string& path);
// "kor", "vdb", "f3d" or "".
const char* FormatName(FileFormat format);

// A grid of an imported file, as its module lists it.
struct ImportedGrid {
    std::string name;
    int flag = 0;  // non-zero: never the default smoke channel
};

struct LoadedFrame {
    std::unique_ptr<OstrelFrameData> frame;  // null when the load failed
    FileFormat format = FileFormat::Other;
    int status = 0;                   // the load status (0 = loaded)
    std::string reason;               // why it failed, in words
    std::string log;                  // what the reader logged while loading
    std::vector<ImportedGrid> grids;  // imported files: every grid of the file
    std::string mapping;              // imported files: the mapping it was opened with

    LoadedFrame();
    LoadedFrame(LoadedFrame&&) noexcept;
    LoadedFrame& operator=(LoadedFrame&&) noexcept;
    ~LoadedFrame();
};

class FrameLoader {
public:
    // `moduleDir`: where the import modules are; "" for the installation's
    // own module directory.
    explicit FrameLoader(std::string moduleDir);
    LoadedFrame Load(const std::string& path);

private:
    // Loads both modules once; their readiness bits (1 Field3D, 2 OpenVDB).
    int EnsureModules();
    std::string ModuleNotReady(FileFormat format) const;

    std::string moduleDir_;
    bool modulesTried_ = false;
    int modulesReady_ = 0;
};

}  // namespace KorInfo
