/*
 * korframe: opens one frame and prints its grid size and the range of one
 * channel, the way a renderer or scene plug-in uses korloader.
 *
 *   korframe FRAME [CHANNEL]        CHANNEL is a grid channel id (default 2, smoke)
 *
 * Build it with CMake (see CMakeLists.txt), or with one line:
 *   c++ -std=c++11 main.cpp $(pkg-config --cflags --libs korloader) -o korframe \
 *     -DKORFRAME_MODULE_DIR="\"$(pkg-config --variable=plugindir korloader)\"" \
 *     -DKORFRAME_MODULE_SUFFIX="\"$(pkg-config --variable=pluginsuffix korloader)\""
 * (the two module definitions are optional: without them only .kor frames open).
 */
#include <korloader/korloader.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: korframe FRAME [CHANNEL]\n");
        return 2;
    }
    const char* path = argv[1];
    const int channel = argc == 3 ? std::atoi(argv[2]) : KOR_GRID_SMOKE;

#if defined(KORFRAME_MODULE_DIR) && defined(KORFRAME_MODULE_SUFFIX)
    // Bit 0: the Field3D module is ready; bit 1: the OpenVDB module.
    const int modules = initalizeKoraLoader(KORFRAME_MODULE_DIR, KORFRAME_MODULE_SUFFIX, 0);
    std::printf("import modules: %d\n", modules);
#endif

    IKor* frame = newIKor(path);
    if (frame == NULL) {
        std::fprintf(stderr, "korframe: %s: cannot be read\n", path);
        return 1;
    }
    int dims[3];
    frame->GetGridDim(dims);
    std::printf("%s: %d x %d x %d cells\n", path, dims[0], dims[1], dims[2]);

    int status = 0;
    const float* values = frame->HasChannel(channel) ? frame->GetChannel(channel) : NULL;
    if (values == NULL) {
        std::fprintf(stderr, "korframe: %s: no channel %d (%s)\n", path, channel, korGridChannelName(channel));
        status = 1;
    } else if (static_cast<long long>(dims[0]) * dims[1] * dims[2] == 0) {
        std::printf("channel %d (%s): no cells\n", channel, korGridChannelName(channel));
    } else {
        const long long cells = static_cast<long long>(dims[0]) * dims[1] * dims[2];
        float lo = values[0], hi = values[0];
        for (long long n = 1; n < cells; ++n) {
            if (values[n] < lo) lo = values[n];
            if (values[n] > hi) hi = values[n];
        }
        std::printf("channel %d (%s): min %g, max %g\n", channel, korGridChannelName(channel), lo, hi);
    }
    deleteIKor(frame);
    return status;
}
