// korinfo as a user meets it: the built program run on frames and sequences
// that the test writers make, its exit status, its text, its JSON (parsed by
// python3's json module) and its pictures (decoded with libpng).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/kor_writer.h"
#include "support/temp_dir.h"

#if KOR_HAVE_PNG
#include <png.h>
#endif

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadAll(std::FILE* file) {
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    return text;
}

// Runs `command` through the shell with korinfo's standard error captured.
Outcome Shell(const std::string& command, const KorTest::TempDir& dir) {
    const std::string errPath = dir.File("stderr.txt");
    Outcome run;
    std::FILE* pipe = popen((command + " 2>" + Quote(errPath)).c_str(), "r");
    if (pipe == nullptr) return run;
    run.out = ReadAll(pipe);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::FILE* err = std::fopen(errPath.c_str(), "rb")) {
        run.err = ReadAll(err);
        std::fclose(err);
    }
    return run;
}

Outcome Korinfo(const std::string& arguments, const KorTest::TempDir& dir) {
    return Shell(Quote(KORINFO_PATH) + " " + arguments, dir);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An nx x ny x nz frame whose smoke is `peak` at one cell and at most 0.2
// elsewhere, stored with its range.
KorTest::KorWriter SmokeFrame(int frame, int nx, int ny, int nz, const int peakCell[3], float peak) {
    std::vector<float> smoke(static_cast<size_t>(nx) * ny * nz);
    for (size_t n = 0; n < smoke.size(); ++n) smoke[n] = 0.1f * static_cast<float>(n % 3);
    smoke[static_cast<size_t>(peakCell[0] + nx * (peakCell[1] + ny * peakCell[2]))] = peak;
    KorTest::KorWriter writer;
    writer.Grid(nx, ny, nz).GridChannel(2, smoke).FrameNumber(frame).Time(static_cast<float>(frame) / 24);
    writer.ChannelRanges({{2, 0.0f, peak}});
    return writer;
}

// A sequence s_####.kor of frames 1, 2, 3, 5 and 6 (4 is missing); frame 5
// drifts: a taller grid, moved, a fuel channel and a smoke range 50 times
// larger.
// s_7.kor is padded otherwise and is no frame of it.
class KorinfoSequence : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new KorTest::TempDir;
        const int peak[3] = {1, 2, 3};
        for (int frame : {1, 2, 3}) {
            KorTest::KorWriter writer = SmokeFrame(frame, 8, 8, 8, peak, 1.0f);
            // Text that JSON must escape, and a byte that is not UTF-8.
            if (frame == 1) writer.InfoText("quote \" backslash \\ newline \n bad \xFF end");
            ASSERT_TRUE(writer.WriteFile(dir_->File("s_" + Padded(frame) + ".kor")));
        }
        for (int frame : {5, 6}) {
            KorTest::KorWriter writer = SmokeFrame(frame, 8, 12, 8, peak, 50.0f);
            writer.GridChannel(10, std::vector<float>(8 * 12 * 8, 0.5f));
            writer.GridTransform({1, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 0});
            ASSERT_TRUE(writer.WriteFile(dir_->File("s_" + Padded(frame) + ".kor")));
        }
        ASSERT_TRUE(SmokeFrame(7, 8, 8, 8, peak, 1.0f).WriteFile(dir_->File("s_7.kor")));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Padded(int frame) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d", frame);
        return name;
    }
    static std::string Template() { return Quote(dir_->File("s_####.kor")); }
    static KorTest::TempDir* dir_;
};
KorTest::TempDir* KorinfoSequence::dir_ = nullptr;

TEST_F(KorinfoSequence, ReportsTheRangeTheGapEveryFrameAndTheDrift) {
    const Outcome run = Korinfo(Template(), *dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "frames 1..6: 5 files, 1 missing: 4\n")) << run.out;
    // One line per frame: frame, time, grid, the stored smoke range (nothing
    // is decoded), particles, channels.
    EXPECT_TRUE(Contains(run.out, "\n        1   0.0416667  8x8x8           [0, 1]                    0  smoke\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "\n        6        0.25  8x12x8          [0, 50]                   0  smoke fuel\n"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "\n        7 ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "drift (4):\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "frame 5 (after 3): grid 8x8x8 -> 8x12x8\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "frame 5 (after 3): transform offset (0, 0, 0) -> (2, 0, 0)\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "frame 5 (after 3): channel fuel appears\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "frame 5 (after 3): smoke range [0, 1] -> [0, 50] (grows 50x)\n")) << run.out;

    // --stats counts the non-zero smoke cells; a larger --drift factor
    // accepts the jump.
    const Outcome stats = Korinfo("--stats --drift 60 " + Template(), *dir_);
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_TRUE(Contains(stats.out, "\n        1   0.0416667  8x8x8           341 ")) << stats.out;
    EXPECT_TRUE(Contains(stats.out, "drift (3):\n")) << stats.out;
}

TEST_F(KorinfoSequence, JsonParsesAndHoldsTheNumbers) {
    const std::string file = Quote(dir_->File("s_0001.kor"));
    const std::string script =
        "import json, sys\n"
        "d = json.load(sys.stdin)\n"
        "f = d['inputs'][0]['frames'][0]\n"
        "smoke = [c for c in f['channels'] if c['id'] == 2][0]\n"
        "print(d['korinfo'], d['ok'], f['frame_number'], f['dims'], f['time_step'], ascii(f['info']))\n"
        "print(smoke['name'], smoke['range'], smoke['decodes'], smoke['stats']['nonzero'], smoke['stats']['max'])\n"
        "s = d['inputs'][1]\n"
        "print(s['kind'], s['first'], s['last'], s['missing'], [f['frame'] for f in s['frames']])\n"
        "print([(w['frame'], w['previous'], w['kind'], w['channel']) for w in s['drift']])\n";
    const Outcome run = Shell("command -v python3 >/dev/null || exit 77; " + Quote(KORINFO_PATH) + " --json --stats " +
                                  file + " " + Template() + " | python3 -c " + Quote(script),
                              *dir_);
    if (run.status == 77) GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "1 True 1 [8, 8, 8] 0.033333335 'quote \" backslash \\\\ newline \\n bad \\ufffd end'\n"
              "smoke [0, 1] True 341 1\n"
              "sequence 1 6 [[4, 4]] [1, 2, 3, 5, 6]\n"
              "[(5, 3, 'grid', None), (5, 3, 'transform', None), (5, 3, 'channel_appears', 10), (5, 3, 'range', 2)]\n");
}

#if KOR_HAVE_PNG
// The picture's size and the pixel with the greatest luminance.
struct Decoded {
    int width = 0, height = 0, brightestX = -1, brightestY = -1;
};

Decoded DecodePng(const std::string& path) {
    Decoded decoded;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return decoded;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return decoded;
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    double best = -1;
    for (int y = 0; y < decoded.height; ++y)
        for (int x = 0; x < decoded.width; ++x) {
            const uint8_t* p = &rgb[3 * (static_cast<size_t>(y) * image.width + static_cast<size_t>(x))];
            const double luminance = 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
            if (luminance > best) {
                best = luminance;
                decoded.brightestX = x;
                decoded.brightestY = y;
            }
        }
    return decoded;
}

TEST(Korinfo, PicturesHaveTheGridsSizeAndTheirBrightestPixelAtThePeak) {
    KorTest::TempDir dir;
    const int peak[3] = {3, 9, 5};  // x, y, z in a 16 x 12 x 8 grid
    const std::string frame = dir.File("peak_0003.kor");
    ASSERT_TRUE(SmokeFrame(3, 16, 12, 8, peak, 1.0f).WriteFile(frame));

    // Along z: x to the right, y up (row 0 is the top, y = 11).
    const std::string projected = dir.File("projected.png");
    Outcome run = Korinfo("--png " + Quote(projected) + " --project z " + Quote(frame), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    Decoded picture = DecodePng(projected);
    EXPECT_EQ(picture.width, 16);
    EXPECT_EQ(picture.height, 12);
    EXPECT_EQ(picture.brightestX, 3);
    EXPECT_EQ(picture.brightestY, 11 - 9);

    // Across x at the peak: z to the right, y up.
    const std::string slice = dir.File("slice.png");
    run = Korinfo("--png " + Quote(slice) + " --slice x=3 " + Quote(frame), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    picture = DecodePng(slice);
    EXPECT_EQ(picture.width, 8);
    EXPECT_EQ(picture.height, 12);
    EXPECT_EQ(picture.brightestX, 5);
    EXPECT_EQ(picture.brightestY, 11 - 9);

    // A sequence's pictures go to an output template; nothing half-written
    // is left behind.
    run = Korinfo("--png " + Quote(dir.File("p_####.png")) + " " + Quote(dir.File("peak_####.kor")), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(DecodePng(dir.File("p_0003.png")).width, 16);
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}
#endif

TEST(Korinfo, ExitStatusNamesEveryFailureAndStillReportsTheRest) {
    KorTest::TempDir dir;
    Outcome run = Korinfo("--help", dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: korinfo", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");

    for (const char* bad : {"", "--bogus a.kor", "--slice q=1 --png o.png a.kor", "--drift 0.5 a.kor",
                            "--channel nosuch --png o.png a.kor", "--project z a.kor"}) {
        run = Korinfo(bad, dir);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_TRUE(Contains(run.err, "usage: korinfo")) << bad << ": " << run.err;
    }

    const int peak[3] = {0, 0, 0};
    const std::string good = dir.File("good.kor"), damaged = dir.File("damaged.kor");
    KorTest::Bytes bytes = SmokeFrame(1, 4, 4, 4, peak, 1.0f).Build();
    ASSERT_TRUE(KorTest::WriteFileBytes(good, bytes));
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(KorTest::WriteFileBytes(damaged, bytes));
    run = Korinfo(Quote(dir.File("missing.kor")) + " " + Quote(good) + " " + Quote(damaged), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.out, good + "\n  format version: 4\n")) << run.out;
    EXPECT_TRUE(Contains(run.err, "missing.kor: no such file\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "damaged.kor: damaged or truncated file, or out of memory\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "korinfo: reader said:\n")) << run.err;

    // A template without files, a group the frame lacks, a report that
    // cannot be written: failures too.
    run = Korinfo(Quote(good) + " >/dev/full", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "korinfo: cannot write the report")) << run.err;
    run = Korinfo(Quote(dir.File("none_####.kor")), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "none_####.kor: no file of this sequence exists")) << run.err;
    run = Korinfo("--group sparks " + Quote(good), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "good.kor: no particle group \"sparks\"")) << run.err;
#if KOR_HAVE_PNG
    const std::string unwritable = dir.File("no/such/dir/out.png");
    run = Korinfo("--png " + Quote(unwritable) + " " + Quote(good), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "no picture: cannot write " + unwritable)) << run.err;
#endif
}

#if KOR_HAVE_F3DPLUG
// The modules load from the build tree, which has the installed layout.
TEST(Korinfo, ReadsImportedFilesThroughTheModulesBesideIt) {
    KorTest::TempDir dir;
    const Outcome run = Korinfo(Quote(KOR_F3D_SAMPLES "/dense_smoke.f3d"), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "  grids: density, fuel, temperature, vel (flag 1),")) << run.out;
    EXPECT_TRUE(Contains(run.out, "  mapping: 2,density;10,fuel;1,temperature;")) << run.out;
    EXPECT_TRUE(Contains(run.out, "     2 smoke                   -      (imported)  range [0, 0.75]\n")) << run.out;
}
#endif

}  // namespace
