#include "frame_loader.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "common/load_status.h"
#include "common/module_dir.h"
#include "common/utf8_path.h"
#include "diag/log.h"
#include "frame/ostrel_frame_data.h"
#include "api/load_frame.h"
#include "frame/load_status.h"
#include "import/default_mappings.h"
#include "import/importers.h"
#include "paths/frame_paths.h"

namespace KorInfo {

namespace {

void CollectLog(void* context, KorDiag::Channel channel, const char* text) {
    if (channel == KorDiag::Channel::Log) static_cast<std::string*>(context)->append(text);
}

// Captures what the library logs while it lives.
class LogCapture {
public:
    explicit LogCapture(std::string& into) { KorDiag::SetCaptureSink(CollectLog, &into); }
    ~LogCapture() { KorDiag::SetCaptureSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

// Why `path` cannot be a frame file, or "" when it is a regular file.
std::string NotAFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(KorTools::Utf8Path(path), error);
    if (std::filesystem::is_regular_file(status)) return {};
    return std::filesystem::exists(status) ? "not a regular file" : "no such file";
}

}  // namespace

LoadedFrame::LoadedFrame() = default;
LoadedFrame::LoadedFrame(LoadedFrame&&) noexcept = default;
LoadedFrame& LoadedFrame::operator=(LoadedFrame&&) noexcept = default;
LoadedFrame::~LoadedFrame() = default;

FileFormat FormatOf(const std::string& path) {
    const ZUtils::String extension = GetExtension(path.c_str());
    if (extension.Equals("kor")) return FileFormat::Kor;
    if (extension.Equals("vdb")) return FileFormat::OpenVdb;
    if (extension.Equals("f3d")) return FileFormat::Field3d;
    return FileFormat::Other;
}

const char* FormatName(FileFormat format) {
    switch (format) {
        case FileFormat::Kor: return "kor";
        case FileFormat::OpenVdb: return "vdb";
        case FileFormat::Field3d: return "f3d";
        default: return "";
    }
}

FrameLoader::FrameLoader(std::string moduleDir) : moduleDir_(std::move(moduleDir)) {}

int FrameLoader::EnsureModules() {
    if (!modulesTried_) {
        modulesTried_ = true;
        if (moduleDir_.empty()) moduleDir_ = KorTools::DefaultModuleDir();
        if (!moduleDir_.empty()) modulesReady_ = LoadImportPlugins(3, moduleDir_.c_str(), KorTools::ModuleSuffix(), 0);
    }
    return modulesReady_;
}

std::string FrameLoader::ModuleNotReady(FileFormat format) const {
    const std::string module =
        std::string(format == FileFormat::OpenVdb ? "vdbplug_" : "f3dplug_") + KorTools::ModuleSuffix();
    if (moduleDir_.empty())
        return "import module " + module + " not ready: no module directory found (name one with --plugins DIR)";
    return "import module " + module + " not ready: not found in " + moduleDir_ + ", or it failed to load";
}

LoadedFrame FrameLoader::Load(const std::string& path) {
    LoadedFrame loaded;
    loaded.format = FormatOf(path);
    if (loaded.format == FileFormat::Other) {
        loaded.status = KorFrame::kNoUsableFile;
        loaded.reason = "not a cache file (the extension is not .kor, .vdb or .f3d)";
        return loaded;
    }
    loaded.reason = NotAFile(path);
    if (!loaded.reason.empty()) {
        loaded.status = KorFrame::kNoUsableFile;
        return loaded;
    }
    const bool imported = loaded.format != FileFormat::Kor;
    if (imported) {
        const int ready = EnsureModules();
        if ((ready & (loaded.format == FileFormat::OpenVdb ? 2 : 1)) == 0) {
            loaded.status = KorFrame::kModuleNotReady;
            loaded.reason = ModuleNotReady(loaded.format);
            return loaded;
        }
    }

    LogCapture capture(loaded.log);
    if (imported) {
        CacheIO::ChannelList grids;
        Find3rdPartyCacheChannels(path.c_str(), grids);
        for (const CacheIO::AvailableChannels& grid : grids) loaded.grids.push_back({grid.name.c_str(), grid.flag});
        ZUtils::String mapping;
        if (GenerateDefaultMappings(path.c_str(), mapping)) loaded.mapping = mapping.c_str();
    }
    auto frame = std::make_unique<OstrelFrameData>();
    loaded.status = LoadCacheFile(*frame, path.c_str(), loaded.mapping.c_str());
    switch (loaded.status) {
        case KorFrame::kLoaded: loaded.frame = std::move(frame); break;
        case KorFrame::kNoUsableFile: loaded.reason = "cannot be opened"; break;
        case KorFrame::kDamagedFile: loaded.reason = KorTools::LoadStatusText(loaded.status); break;
        case KorFrame::kModuleNotReady: loaded.reason = ModuleNotReady(loaded.format); break;
        case KorFrame::kNoMapping: loaded.reason = "no grid of the file maps to a channel"; break;
        default: loaded.reason = "the import module failed with code " + std::to_string(loaded.status); break;
    }
    return loaded;
}

}  // namespace KorInfo
