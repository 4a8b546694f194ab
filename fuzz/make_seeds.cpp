// Writes the seed corpora of the fuzz targets: OUTDIR/<target>/<name>.
// Every seed comes from the test support writers, so seeds follow the
// formats as the tests know them.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/sample_frames.h"

namespace {

int g_failures = 0;

// A string literal with its embedded NULs, without its terminator.
template <size_t N>
std::string Literal(const char (&text)[N]) {
    return std::string(text, N - 1);
}

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

    // Text surfaces: selector byte (0 mappings, 1 paths, 2 UTF-8), then text.
    const std::filesystem::path text = out / "fuzz_text";
    const std::pair<const char*, std::string> texts[] = {
        {"mapping", Literal("\0002,density;4,vel.x;5,vel,y;")},
        {"mapping_unended", Literal("\0001,temperature;2,smo")},
        {"mapping_names", Literal("\0002,a;\0density\nfuel\nv;x")},
        {"template_hashes", Literal("\001C:/sim/Cache_####.vdb\0\7\0\0\0*")},
        {"template_printf", Literal("\001Cache_%04d_%%d_%u.f3d\0\371\377\377\377#")},
        {"template_frame", Literal("\001run_##/Cache_<frame03>.<frame>.vdb\0\377\377\377\177fallback")},
        {"frame_number", Literal("\001a/b.1/Cache-0012.KOR")},
        {"utf8", Literal("\002caf\303\251 \360\237\230\200 \355\240\200 \300\257 \364\220\200\200 \377")},
    };
    for (const auto& [name, bytes] : texts) Write(text, name, KorTest::Bytes(bytes.begin(), bytes.end()));

    return g_failures == 0 ? 0 : 1;
}
