#include "common/module_dir.h"

#include <filesystem>
#include <system_error>

namespace KorTools {

namespace {

std::filesystem::path ExecutableDir() {
    std::error_code error;
#if defined(__linux__)
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.parent_path();
#endif
    return {};
}

bool IsDirectory(const std::filesystem::path& dir) {
    std::error_code error;
    return !dir.empty() && std::filesystem::is_directory(dir, error);
}

}  // namespace

std::string DefaultModuleDir() {
    const std::filesystem::path beside = ExecutableDir();
    if (!beside.empty()) {
        const std::filesystem::path dir = (beside / KOR_MODULE_DIR_FROM_BIN).lexically_normal();
        if (IsDirectory(dir)) return dir.string();
    }
    if (IsDirectory(KOR_MODULE_INSTALL_FULL_DIR)) return KOR_MODULE_INSTALL_FULL_DIR;
    return {};
}

const char* ModuleSuffix() { return KOR_MODULE_SUFFIX; }

}  // namespace KorTools
