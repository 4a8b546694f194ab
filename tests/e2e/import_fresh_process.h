// Helpers for end-to-end tests of the import modules. A process loads each
// import module at most once, so every test that calls initalizeKoraLoader
// runs its body through InFreshProcess (support/fresh_process.h).
#pragma once
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fresh_process.h"
#include "support/temp_dir.h"
#include "support/test_grid_file.h"

namespace KorTest {

#if defined(_WIN32)
constexpr const char* kModuleExtension = ".dll";
// The system's module search looks through the directories of PATH.
constexpr const char* kModuleSearchVariable = "PATH";
#else
constexpr const char* kModuleExtension = ".so";
constexpr const char* kModuleSearchVariable = "LD_LIBRARY_PATH";
#endif

// A directory of test modules built next to the tests: "good", "second"
// (working, suffix "test"), "plain" (working, no suffix), "broken" (vdbplug
// lacks an entry point, f3dplug fails to initialise).
inline std::string ModuleSet(const char* set) { return std::string(KOR_TEST_MODULES_DIR) + "/" + set; }

// Sets an environment variable for the child processes started while it
// lives (the dynamic loader reads its search path when a process starts).
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
#if defined(_WIN32)
        _putenv_s(name, value.c_str());
#else
        setenv(name, value.c_str(), 1);
#endif
    }
    ~ScopedEnvironment() {
#if defined(_WIN32)
        _putenv_s(name_, hadOld_ ? old_.c_str() : "");  // "" removes it
#else
        if (hadOld_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
#endif
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

// Grid `index` of the cache at `path` as korGet3rdPartyChannelName names it,
// or "<-1>" when there is none.
inline std::string GridName(const std::string& path, int index, int* flag = nullptr) {
    char out[256];
    int f = -1;
    const int r = korGet3rdPartyChannelName(out, sizeof out, &f, path.c_str(), index);
    if (flag) *flag = f;
    return r < 0 ? "<-1>" : std::string(out);
}

inline std::vector<std::string> GridNames(const std::string& path) {
    std::vector<std::string> names;
    for (int i = 0;; ++i) {
        const std::string name = GridName(path, i);
        if (name == "<-1>") return names;
        names.push_back(name);
    }
}

inline std::string DefaultMapping(const std::string& path) {
    char out[4096];
    EXPECT_EQ(korGenerateDefaultChannelMappings(out, sizeof out, path.c_str()), 1);
    return out;
}

}  // namespace KorTest
