#include "library.h"

#include <filesystem>
#include <system_error>

#include "common/module_dir.h"
#include "korloader/korloader.h"
#include "paths/frame_paths.h"

namespace Kor2Vdb {

std::string ExtensionOf(const std::string& path) { return GetExtension(path.c_str()).c_str(); }

void Library::LoadModules(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    moduleDirectory_ = directory;
    modules_ = directory.empty() ? 0 : initalizeKoraLoader(directory.c_str(), KorTools::ModuleSuffix(), 0);
}

std::string Library::InputProblem(const std::string& path) const {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return "missing file";
    if (!std::filesystem::is_regular_file(status)) return "not a regular file";
    const std::string extension = ExtensionOf(path);
    const bool vdb = extension == "vdb", f3d = extension == "f3d";
    if (extension != "kor" && !vdb && !f3d) return "unknown extension (.kor, .vdb and .f3d are read)";
    if ((vdb && !OpenVdbReady()) || (f3d && !Field3DReady())) {
        const std::string module = std::string(vdb ? "vdbplug_" : "f3dplug_") + KorTools::ModuleSuffix();
        return moduleDirectory_.empty()
                   ? "the import module " + module + " is needed: no module directory (give --plugins DIR)"
                   : "the import module " + module + " is not ready in " + moduleDirectory_;
    }
    return "";
}

IKor* Library::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return newIKor(path.c_str());
}

void Library::Release(IKor* frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    deleteIKor(frame);
}

}  // namespace Kor2Vdb
