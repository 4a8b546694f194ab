// Writes the seed corpora of the fuzz targets: OUTDIR/<target>/<name>.
// Every seed comes from the test support writers, so seeds follow the
// formats as the tests know them.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/sample_frames.h"

namespace {

int g_failures = 0;

void Write(const std::filesystem::path& dir, const std::string& name, const KorTest::Bytes& bytes) {
    std::filesystem::create_directories(dir);
    if (!KorTest::WriteFileBytes((dir / name).string(), bytes)) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", (dir / name).string().c_str());
        ++g_failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kor_fuzz_seeds OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];

    const std::filesystem::path frames = out / "fuzz_frame";
    for (const KorTest::SampleFile& f : KorTest::ValidFrames()) Write(frames, f.name, f.bytes);
    for (const KorTest::SampleFile& f : KorTest::HostileFrames()) Write(frames, "hostile_" + f.name, f.bytes);

    return g_failures == 0 ? 0 : 1;
}
