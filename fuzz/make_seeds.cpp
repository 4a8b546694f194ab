// Writes the seed corpora of the fuzz targets: OUTDIR/<target>/<name>.
// Every seed comes from the test support writers, so seeds follow the
// formats as the tests know them.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/entropy_encoder.h"
#include "support/particle_writer.h"
#include "support/entropy_encoder.h"
#include "support/particle_writer.h"
#include "support/sample_frames.h"
#include "support/sg_encoder.h"
#include "support/sg_encoder.h"

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

    // Sparse-grid streams: flags (bit 0: 1-D), 24-bit destination size, stream.
    const std::filesystem::path sg = out / "fuzz_sg_stream";
    auto sgSeed = [&](const std::string& name, bool flat, size_t count, const KorTest::Bytes& stream) {
        KorTest::Bytes b = {static_cast<uint8_t>(flat ? 1 : 0), static_cast<uint8_t>(count),
                            static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count >> 16)};
        b.insert(b.end(), stream.begin(), stream.end());
        Write(sg, name, b);
    };
    const int nx = 5, ny = 4, nz = 3, cells = nx * ny * nz;
    const std::vector<float> smoke = KorTest::MakeSmokeField(nx, ny, nz, 3);
    sgSeed("constant", true, 10, KorTest::SGConstantStream(10, 2.5f));
    sgSeed("raw", true, 6, KorTest::SGRawStream(smoke.data(), 6));
    sgSeed("example_1d", true, 10,
           KorTest::Bytes{0x01, 0xfc, 0x02, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x40, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03, 0xfc, 0xff, 0xff, 0xff, 0x6c, 0x5b, 0x02});
    for (KorTest::EntropyForm form : {KorTest::EntropyForm::Direct, KorTest::EntropyForm::Coded}) {
        KorTest::SGGridOptions o;
        o.form = form;
        o.passes = form == KorTest::EntropyForm::Direct ? 2 : 1;
        const std::string suffix = form == KorTest::EntropyForm::Direct ? "_direct" : "_coded";
        sgSeed("grid" + suffix, false, cells, KorTest::SGGridStream(nx, ny, nz, smoke.data(), o));
        o.zoneSlices = 1;
        sgSeed("grid_zoned" + suffix, false, cells, KorTest::SGGridStream(nx, ny, nz, smoke.data(), o));
        KorTest::SGQuantised q;
        q.dims = {cells};
        q.scale = 16.0f;
        q.passes = 1;
        q.form = form;
        const std::vector<int32_t> ints = KorTest::Quantise(smoke.data(), cells, q.scale, 0.0f);
        KorTest::Bytes stream;
        if (KorTest::SGQuantisedStream(q, ints.data(), stream)) sgSeed("flat" + suffix, true, cells, stream);
    }

    // Entropy blocks: 24-bit token count, mode (bit 0: token by token), base, block.
    const std::filesystem::path entropy = out / "fuzz_entropy_block";
    auto entropySeed = [&](const std::string& name, size_t count, bool oneByOne, const KorTest::Bytes& block) {
        KorTest::Bytes b = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                            static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(oneByOne ? 1 : 0), 0, 0, 0, 0};
        b.insert(b.end(), block.begin(), block.end());
        Write(entropy, name, b);
    };
    entropySeed("example_direct", 4, false, KorTest::Bytes{0x02, 0, 0, 0, 0, 0x40, 0, 0});
    entropySeed("example_coded", 100, false, KorTest::Bytes{0, 1, 0, 0, 0, 5, 0, 0, 0, 0x47, 0x90, 0x0c});
    std::vector<int32_t> values;
    for (int i = 0; i < 200; ++i) values.push_back(i % 17 < 5 ? 3 : (i * 7919) % 23);
    const std::vector<int32_t> tokens = KorTest::Tokenize(values.data(), values.size());
    entropySeed("runs_coded", values.size(), false, KorTest::EncodeEntropyBlock(tokens, KorTest::EntropyForm::Coded));
    entropySeed("runs_direct", values.size(), false, KorTest::EncodeEntropyBlock(tokens, KorTest::EntropyForm::Direct));
    std::vector<int32_t> idWords;  // ID deltas as low and high words
    for (int i = 0; i < 50; ++i) {
        idWords.push_back(i % 7 == 3 ? -1 : 1 + i % 3);
        idWords.push_back(i % 7 == 3 ? -1 : 0);
    }
    entropySeed("ids_coded", 50, true, KorTest::EncodeEntropyBlock(idWords, KorTest::EntropyForm::Coded));
    entropySeed("ids_direct", 50, true, KorTest::EncodeEntropyBlock(idWords, KorTest::EntropyForm::Direct));

    // Particle channels: method, channel id, 16-bit particle count, a flag byte, stored bytes.
    const std::filesystem::path particles = out / "fuzz_particle_channel";
    auto particleSeed = [&](const std::string& name, uint32_t method, int channel, int32_t count,
                            const KorTest::Bytes& stored) {
        KorTest::Bytes b = {static_cast<uint8_t>(method), static_cast<uint8_t>(channel), static_cast<uint8_t>(count),
                            static_cast<uint8_t>(count >> 8), 0};
        b.insert(b.end(), stored.begin(), stored.end());
        Write(particles, name, b);
    };
    const int32_t n = 37;
    std::vector<float> xyz;
    for (int i = 0; i < n * 3; ++i) xyz.push_back(static_cast<float>(i % 11) * 0.5f);
    std::vector<int64_t> ids;
    for (int i = 0; i < n; ++i) ids.push_back(i % 5 == 2 ? 1000 - i : 3 * i + (int64_t{1} << 33));
    for (uint32_t method = 0; method <= 4; ++method) {
        const std::string m = std::to_string(method);
        particleSeed("position_m" + m, method, 0, n, KorTest::EncodeParticleChannel(method, KorTest::FloatWords(xyz), n, 3));
        particleSeed("ids_m" + m, method, 10, n, KorTest::EncodeParticleChannel(method, KorTest::Int64Words(ids), n, 2));
        particleSeed("size_m" + m, method, 2, n,
                     KorTest::EncodeParticleChannel(method, KorTest::FloatWords({xyz.begin(), xyz.begin() + n}), n, 1));
    }
    particleSeed("no_layout_m4", 4, 7, n, KorTest::EncodeZip(KorTest::Words{}));
    particleSeed("constant_m2", 2, 20, n, KorTest::ConstantSparseStream(n, 1.5f));

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
