// The host of the damage campaign: opens each file as a renderer would,
// through the shared library and the real modules, and stands guard so that
// a file that takes too long is reported as a hang.
//
//   damage_host --bases DIR              write the .vdb base files with OpenVDB
//   damage_host MODULE_DIR SUFFIX FILE...
//
// Each file's name is printed before it is opened, so that the campaign
// script knows which one a crash or sanitizer report belongs to.
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "korloader/korloader.h"

namespace {

constexpr int kHangSeconds = 30;
std::atomic<long> g_started{0};  // seconds since the epoch when the current file began, 0 between files

void Watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long started = g_started.load();
        const long now = static_cast<long>(std::time(nullptr));
        if (started != 0 && now - started > kHangSeconds) {
            std::fprintf(stdout, "HANG\n");
            std::fflush(stdout);
            _exit(3);
        }
    }
}

template <class GridT>
typename GridT::Ptr Sphere(const char* name, typename GridT::ValueType inside) {
    auto grid = GridT::create();
    grid->setName(name);
    auto acc = grid->getAccessor();
    for (int z = -12; z <= 12; ++z)
        for (int y = -12; y <= 12; ++y)
            for (int x = -12; x <= 12; ++x)
                if (x * x + y * y + z * z < 140) acc.setValueOn(openvdb::Coord(x, y, z), inside * float(x + 20));
    grid->setTransform(openvdb::math::Transform::createLinearTransform(0.1));
    return grid;
}

int WriteBases(const std::string& dir) {
    openvdb::initialize();
    auto density = Sphere<openvdb::FloatGrid>("density", 0.05f);
    auto vel = Sphere<openvdb::Vec3SGrid>("vel", openvdb::Vec3s(0.1f, -0.2f, 0.3f));
    auto half = Sphere<openvdb::FloatGrid>("density", 0.05f);
    half->setSaveFloatAsHalf(true);
    struct Base {
        const char* name;
        openvdb::GridPtrVec grids;
        int compression;
    };
    const Base bases[] = {
        {"float_and_vector.vdb", {density, vel}, -1},
        {"float.vdb", {density}, -1},
        {"half_zip.vdb", {half, vel}, openvdb::io::COMPRESS_ZIP | openvdb::io::COMPRESS_ACTIVE_MASK},
        {"raw.vdb", {density, vel}, openvdb::io::COMPRESS_NONE},
    };
    for (const Base& b : bases) {
        openvdb::io::File file(dir + "/" + b.name);
        if (b.compression >= 0) file.setCompression(static_cast<uint32_t>(b.compression));
        file.write(b.grids);
        file.close();
    }
    return 0;
}

void Open(const char* path) {
    char name[256];
    int flag = 0;
    for (int i = 0; i < 64 && korGet3rdPartyChannelName(name, sizeof name, &flag, path, i) >= 0; ++i) {
    }
    char mapping[4096];
    korGenerateDefaultChannelMappings(mapping, sizeof mapping, path);
    if (IKor* frame = newIKor(path)) {
        for (int c = 0; c <= 30; ++c) frame->GetChannel(c);
        deleteIKor(frame);
    }
    if (IKor* frame = newIKorWithChannelsMapping(path, "1,density;4,vel;2,temperature;")) deleteIKor(frame);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--bases") == 0) return WriteBases(argv[2]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODULE_DIR SUFFIX FILE... | --bases DIR\n", argv[0]);
        return 2;
    }
    const int modules = initalizeKoraLoader(argv[1], argv[2], 0);
    if ((modules & 3) != 3) {
        std::fprintf(stderr, "modules not loaded (%d)\n", modules);
        return 2;
    }
    std::thread(Watchdog).detach();
    for (int i = 3; i < argc; ++i) {
        std::fprintf(stdout, "FILE %s\n", argv[i]);
        std::fflush(stdout);
        g_started = static_cast<long>(std::time(nullptr));
        Open(argv[i]);
        g_started = 0;
    }
    std::fprintf(stdout, "DONE\n");
    return 0;
}
