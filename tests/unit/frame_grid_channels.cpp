// Grid channels of a loaded frame: every stream form through GetChannel,
// speed from velocity, damaged records, and many threads on one frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "frame/byte_source.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "log_capture.h"
#include "support/kor_writer.h"
#include "support/sg_encoder.h"

using KorTest::KorWriter;
using KorTest::SGGridOptions;

namespace {

const char kInvalid[] = "Invalid cache file!!!\n";
constexpr int kNx = 12, kNy = 10, kNz = 9;
constexpr size_t kCells = size_t(kNx) * kNy * kNz;

std::unique_ptr<OstrelFrameData> Load(const KorWriter& writer) {
    auto frame = std::make_unique<OstrelFrameData>();
    const KorTest::Bytes bytes = writer.Build();
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    EXPECT_EQ(ImportKorFrom(*frame, source, "memory.kor"), 0);
    return frame;
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

void ExpectChannel(const float* got, const std::vector<float>& expected) {
    ASSERT_NE(got, nullptr);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(Bits(got[i]), Bits(expected[i])) << "cell " << i;
}

std::vector<float> Wave(float a, float b) {
    std::vector<float> v(kCells);
    for (size_t i = 0; i < kCells; ++i) v[i] = a * std::sin(static_cast<float>(i) * b);
    return v;
}

struct Fixture {
    std::vector<float> smoke = KorTest::MakeSmokeField(kNx, kNy, kNz, 4);
    std::vector<float> temperature = Wave(300.0f, 0.01f);
    std::vector<float> vx = Wave(2.0f, 0.3f), vy = Wave(-1.0f, 0.07f), vz = Wave(0.5f, 0.11f);
    SGGridOptions smokeOptions, temperatureOptions, velocityOptions;

    Fixture() {
        smokeOptions.scale = 2048.0f;
        smokeOptions.passes = 2;
        temperatureOptions.scale = 16.0f;
        temperatureOptions.offset = 290.0f;
        temperatureOptions.zoneSlices = 4;
        velocityOptions.scale = 512.0f;
        velocityOptions.zoneSlices = 2;
        velocityOptions.passes = 1;
    }
    KorWriter Writer() const {
        KorWriter w;
        w.Grid(kNx, kNy, kNz)
            .GridChannel(2, smoke, smokeOptions)
            .GridChannel(1, temperature, temperatureOptions)
            .GridChannel(4, vx, velocityOptions)
            .GridChannel(5, vy, velocityOptions)
            .GridChannel(6, vz, velocityOptions);
        return w;
    }
    std::vector<float> Expected(const std::vector<float>& v, const SGGridOptions& o) const {
        return KorTest::SGGridDecoded(v.size(), v.data(), o);
    }
    std::vector<float> Speed() const {
        const auto x = Expected(vx, velocityOptions), y = Expected(vy, velocityOptions), z = Expected(vz, velocityOptions);
        std::vector<float> s(kCells);
        for (size_t n = 0; n < kCells; ++n) s[n] = std::sqrt(x[n] * x[n] + y[n] * y[n] + z[n] * z[n]);
        return s;
    }
};

TEST(GridChannels, EveryStoredChannelDecodesOnceAndSpeedComesFromVelocity) {
    const Fixture f;
    auto frame = Load(f.Writer());
    ExpectChannel(frame->GetChannel(2), f.Expected(f.smoke, f.smokeOptions));
    ExpectChannel(frame->GetChannel(1), f.Expected(f.temperature, f.temperatureOptions));
    ExpectChannel(frame->GetChannel(5), f.Expected(f.vy, f.velocityOptions));
    EXPECT_EQ(frame->GetChannel(2), frame->GetChannel(2));
    EXPECT_EQ(frame->HasChannel(3), 1);
    ExpectChannel(frame->GetChannel(3), f.Speed());
    EXPECT_EQ(frame->GetChannel(10), nullptr);  // not stored
}

TEST(GridChannels, RawConstantAndShortStreams) {
    std::vector<float> raw(kCells);
    for (size_t i = 0; i < kCells; ++i) raw[i] = static_cast<float>(i) * 0.5f - 7.0f;
    raw[3] = std::nanf("5");
    KorWriter w;
    w.Grid(kNx, kNy, kNz)
        .Channel(10, KorTest::SGRawStream(raw.data(), kCells))
        .Channel(14, KorTest::SGConstantStream(static_cast<int32_t>(kCells), 0.25f))
        .Channel(15, KorTest::SGConstantStream(7, 1.0f));  // fewer values than cells
    auto frame = Load(w);
    ExpectChannel(frame->GetChannel(10), raw);
    ExpectChannel(frame->GetChannel(14), std::vector<float>(kCells, 0.25f));
    std::vector<float> partial(kCells, 0.0f);
    std::fill(partial.begin(), partial.begin() + 7, 1.0f);
    ExpectChannel(frame->GetChannel(15), partial);
}

TEST(GridChannels, DamagedRecordsGiveNullAndTheLogLineEveryTime) {
    const Fixture f;
    KorTest::Bytes cut = KorTest::SGGridStream(kNx, kNy, kNz, f.smoke.data(), f.smokeOptions);
    cut.resize(cut.size() / 2);
    KorTest::Bytes badTag = KorTest::SGConstantStream(static_cast<int32_t>(kCells), 1.0f);
    badTag[0] = 0x07;
    const float one = 1.0f;
    KorTest::Bytes zoneOutside = KorTest::SGZonedStream({KorTest::SGZone{static_cast<int32_t>(kCells) - 2,
                                                                         KorTest::SGConstantStream(3, one)}});
    KorWriter w;
    w.Grid(kNx, kNy, kNz)
        .Channel(2, cut)
        .Channel(1, badTag)
        .Channel(10, KorTest::SGConstantStream(static_cast<int32_t>(kCells) + 1, one))  // more than the grid
        .Channel(14, zoneOutside);
    auto frame = Load(w);
    LogCapture capture;
    for (int channel : {2, 1, 10, 14}) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            capture.Clear();
            EXPECT_EQ(frame->GetChannel(channel), nullptr) << channel;
            EXPECT_EQ(capture.Log(), std::vector<std::string>{kInvalid}) << channel;
        }
    }
}

// Several host threads on one frame: the same channel decodes once and
// everyone gets the same array; different channels decode side by side;
// speed takes the velocity locks while holding its own.
TEST(GridChannelsConcurrent, ManyThreadsReadOneFrame) {
    const Fixture f;
    for (int round = 0; round < 3; ++round) {
        auto frame = Load(f.Writer());
        const int order[][6] = {{2, 1, 3, 4, 5, 6}, {3, 2, 6, 5, 4, 1}, {4, 3, 1, 2, 6, 5}, {2, 2, 2, 3, 3, 3}};
        constexpr int kThreads = 8;
        std::vector<std::vector<const float*>> seen(kThreads, std::vector<const float*>(32, nullptr));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int channel : order[t % 4]) seen[t][channel] = frame->GetChannel(channel);
            });
        for (std::thread& t : threads) t.join();
        for (int t = 0; t < kThreads; ++t)
            for (int channel : order[t % 4]) {
                EXPECT_NE(seen[t][channel], nullptr);
                EXPECT_EQ(seen[t][channel], frame->GetChannel(channel)) << "thread " << t << " channel " << channel;
            }
        ExpectChannel(frame->GetChannel(2), f.Expected(f.smoke, f.smokeOptions));
        ExpectChannel(frame->GetChannel(3), f.Speed());
    }
}

}  // namespace
