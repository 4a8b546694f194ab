// The library as a host sees it: the public header and the shared library.
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/kor_writer.h"
#include "support/temp_dir.h"

using KorTest::Bytes;
using KorTest::KorWriter;

namespace {

// A 3 x 2 x 2 frame whose packed colour bytes are known.
Bytes ColourBytes(int cells) {
    Bytes bgra(static_cast<size_t>(cells) * 4);
    for (int n = 0; n < cells; ++n) {
        bgra[4 * n + 0] = static_cast<uint8_t>(10 + n);   // blue
        bgra[4 * n + 1] = static_cast<uint8_t>(100 + n);  // green
        bgra[4 * n + 2] = static_cast<uint8_t>(200 + n);  // red
        bgra[4 * n + 3] = 0xFF;                           // not used
    }
    return bgra;
}

class HostFrames : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const KorWriter& writer) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(writer.WriteFile(path));
        return path;
    }
    std::string ColourFrame(const std::string& name = "colour.kor") {
        const KorTest::Transform t = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1, 2, 3};
        return Write(name, KorWriter().Grid(3, 2, 2).GridTransform(t).PackedColour(ColourBytes(12)).FrameNumber(4));
    }
    KorTest::TempDir dir;
};

}  // namespace

TEST(HostExports, VersionIs3_04_00) { EXPECT_EQ(OstrelSDKGetVersionNumber(), 197632u); }

// The package version and the SONAME's major number come from the build
// system: they must be the version the library answers.
TEST(HostExports, TheBuildSystemsVersionIsTheLibrarysVersion) {
    EXPECT_EQ(OstrelSDKGetVersionNumber(),
              (KOR_VERSION_MAJOR << 16u) | (KOR_VERSION_MINOR << 8u) | static_cast<unsigned>(KOR_VERSION_PATCH));
}

#if !defined(_WIN32)
TEST(HostExports, TheSharedLibraryExportsExactlyTheNineFunctions) {
    const std::string command = std::string("nm -D --defined-only ") + KOR_SHARED_LIBRARY_PATH + " | c++filt";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t space = text.find(' ', text.find(' ') + 1);
        if (space != std::string::npos) exported.insert(text.substr(space + 1));
    }
    pclose(pipe);
    const std::set<std::string> expected = {
        "OstrelSDKGetVersionNumber()",
        "newIKor(char const*)",
        "newIKorWithChannelsMapping(char const*, char const*)",
        "deleteIKor(IKor*)",
        "initalizeKoraLoader(char const*, char const*, int)",
        "korGet3rdPartyChannelName(char*, int, int*, char const*, int)",
        "korComposeChannelMappingsString(char*, int, int*, char const* const*, int)",
        "korDecomposeChannelMappingsString(int*, char*, int, char const*, int)",
        "korGenerateDefaultChannelMappings(char*, int, char const*)",
    };
    EXPECT_EQ(exported, expected);
}
#endif

TEST_F(HostFrames, OpeningTheSameFileTwiceSharesOneFrame) {
    const std::string path = ColourFrame();
    IKor* a = newIKor(path.c_str());
    ASSERT_NE(a, nullptr);
    IKor* b = newIKor(path.c_str());
    EXPECT_EQ(a, b);
    IKor* c = newIKorWithChannelsMapping(path.c_str(), "2,density;");
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, a);  // another mapping is another frame
    IKor* d = newIKorWithChannelsMapping(path.c_str(), nullptr);  // null mapping is ""
    EXPECT_EQ(d, a);
    deleteIKor(d);
    deleteIKor(c);
    deleteIKor(b);
    deleteIKor(a);
    deleteIKor(a);  // already released to 0: ignored
}

TEST_F(HostFrames, PathsDifferingOnlyInCaseAreDifferentFrames) {
    const std::string lower = ColourFrame("case.kor");
    const std::string upper = ColourFrame("CASE.kor");
    IKor* a = newIKor(lower.c_str());
    IKor* b = newIKor(upper.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    deleteIKor(a);
    deleteIKor(b);
}

TEST_F(HostFrames, NullEmptyMissingAndUnknownPathsGiveNull) {
    EXPECT_EQ(newIKor(nullptr), nullptr);
    EXPECT_EQ(newIKor(""), nullptr);
    EXPECT_EQ(newIKor(dir.File("missing.kor").c_str()), nullptr);
    EXPECT_EQ(newIKorWithChannelsMapping(nullptr, "1,a;"), nullptr);
    const std::string text = Write("frame.txt", KorWriter());
    EXPECT_EQ(newIKor(text.c_str()), nullptr);
    deleteIKor(nullptr);
    int notAFrame = 0;
    deleteIKor(reinterpret_cast<IKor*>(&notAFrame));  // never handed out: ignored
}

TEST_F(HostFrames, DamagedFilesGiveNull) {
    Bytes bytes = KorWriter().Grid(2, 2, 2).Build();
    bytes[0] = 'X';
    const std::string path = dir.File("damaged.kor");
    ASSERT_TRUE(KorTest::WriteFileBytes(path, bytes));
    EXPECT_EQ(newIKor(path.c_str()), nullptr);
    const std::string cut = dir.File("cut.kor");
    ASSERT_TRUE(KorTest::WriteFileBytes(cut, Bytes(bytes.begin(), bytes.begin() + 20)));
    EXPECT_EQ(newIKor(cut.c_str()), nullptr);
}

TEST_F(HostFrames, PackedColourExpandsIntoRedGreenAndBlue) {
    IKor* frame = newIKor(ColourFrame().c_str());
    ASSERT_NE(frame, nullptr);
    int dims[3] = {};
    frame->GetGridDim(dims);
    EXPECT_EQ(dims[0], 3);
    EXPECT_EQ(dims[1], 2);
    EXPECT_EQ(dims[2], 2);
    float t[12];
    frame->GetTransform(t);
    EXPECT_EQ(t[0], 0.5f);
    EXPECT_EQ(t[11], 3.0f);

    EXPECT_EQ(frame->HasChannel(18), 0);  // never handed out
    EXPECT_EQ(frame->HasChannel(7), 1);
    EXPECT_EQ(frame->HasChannel(8), 1);
    EXPECT_EQ(frame->HasChannel(9), 1);
    EXPECT_EQ(frame->HasChannel(2), 0);
    EXPECT_EQ(frame->GetChannel(18), nullptr);

    const float* red = frame->GetChannel(7);
    const float* green = frame->GetChannel(8);
    const float* blue = frame->GetChannel(9);
    ASSERT_NE(red, nullptr);
    ASSERT_NE(green, nullptr);
    ASSERT_NE(blue, nullptr);
    for (int n = 0; n < 12; ++n) {
        EXPECT_EQ(red[n], static_cast<float>(200 + n) / 255.0f);
        EXPECT_EQ(green[n], static_cast<float>(100 + n) / 255.0f);
        EXPECT_EQ(blue[n], static_cast<float>(10 + n) / 255.0f);
    }
    EXPECT_EQ(frame->GetChannel(7), red);  // made once, never replaced
    EXPECT_EQ(frame->GetChannel(18), nullptr);
    EXPECT_EQ(frame->GetChannel(8), green);
    deleteIKor(frame);
}

TEST_F(HostFrames, ChannelMaskRules) {
    const std::string path = Write("mask.kor", KorWriter().Grid(1, 1, 1).Mask(0x80000071u));  // 0, 4, 5, 6 + backup
    IKor* frame = newIKor(path.c_str());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->HasChannel(0), 1);
    EXPECT_EQ(frame->HasChannel(32), 1);  // taken modulo 32
    EXPECT_EQ(frame->HasChannel(-1), 0);  // bit 31 is the backup flag, not a channel
    EXPECT_EQ(frame->HasChannel(31), 0);
    EXPECT_EQ(frame->HasChannel(3), 1);  // speed from velocity x, y, z
    EXPECT_EQ(frame->HasChannel(7), 0);
    EXPECT_EQ(frame->GetChannel(-1), nullptr);
    EXPECT_EQ(frame->GetChannel(32), nullptr);
    EXPECT_EQ(frame->GetChannel(4), nullptr);  // in the mask but not stored
    EXPECT_EQ(frame->GetNumParticleGroups(), 0);
    EXPECT_EQ(frame->GetParticleGroup(0), nullptr);
    EXPECT_EQ(frame->GetParticleGroup(-1), nullptr);
    EXPECT_EQ(frame->GetParticleGroupByName("none"), nullptr);
    deleteIKor(frame);
}

TEST_F(HostFrames, ADamagedColourRecordGivesNullEveryTime) {
    KorTest::Bytes body = KorTest::PackedColourBody(ColourBytes(12));
    body[10] ^= 0x55;  // inside the zlib stream
    const std::string path = Write("badcolour.kor", KorWriter().Grid(3, 2, 2).Channel(18, body));
    IKor* frame = newIKor(path.c_str());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->HasChannel(7), 1);
    EXPECT_EQ(frame->GetChannel(7), nullptr);
    EXPECT_EQ(frame->GetChannel(7), nullptr);
    EXPECT_EQ(frame->GetChannel(9), nullptr);
    deleteIKor(frame);
}

TEST_F(HostFrames, ConcurrentReadersOfOneFrameGetTheSameColourArrays) {
    IKor* frame = newIKor(ColourFrame().c_str());
    ASSERT_NE(frame, nullptr);
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::vector<std::vector<const float*>> seen(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round)
                for (int c : {7 + (t % 3), 18, 7, 8, 9}) seen[t].push_back(frame->GetChannel(c));
        });
    }
    for (std::thread& thread : threads) thread.join();
    const float* red = frame->GetChannel(7);
    const float* green = frame->GetChannel(8);
    const float* blue = frame->GetChannel(9);
    for (const auto& pointers : seen)
        for (const float* p : pointers) EXPECT_TRUE(p == nullptr || p == red || p == green || p == blue);
    EXPECT_EQ(red[3], 203.0f / 255.0f);
    deleteIKor(frame);
}
