#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <random>
#include <system_error>

namespace KorTest {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = std::filesystem::temp_directory_path(ec) /
                ("kortest-" + std::to_string(device()) + "-" + std::to_string(stamp) + "-" +
                 std::to_string(counter++));
        if (std::filesystem::create_directories(path_, ec)) return;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace KorTest
