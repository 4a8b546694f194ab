// Grid channels as a host reads them: files written with real sparse-grid
// streams, read back through newIKor and GetChannel.
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/kor_writer.h"
#include "support/sg_encoder.h"
#include "support/temp_dir.h"

using KorTest::KorWriter;
using KorTest::SGGridOptions;

namespace {

constexpr int kNx = 24, kNy = 20, kNz = 16;
constexpr size_t kCells = size_t(kNx) * kNy * kNz;

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

bool SameBits(const float* got, const std::vector<float>& expected) {
    if (got == nullptr) return false;
    for (size_t i = 0; i < expected.size(); ++i)
        if (Bits(got[i]) != Bits(expected[i])) return false;
    return true;
}

struct SmokeFrame {
    std::vector<float> density = KorTest::MakeSmokeField(kNx, kNy, kNz, 8);
    std::vector<float> temperature = KorTest::MakeSmokeField(kNx, kNy, kNz, 9);
    std::vector<float> velocity[3];
    SGGridOptions densityOptions, temperatureOptions, velocityOptions;

    SmokeFrame() {
        for (int c = 0; c < 3; ++c) {
            velocity[c].resize(kCells);
            for (size_t n = 0; n < kCells; ++n) velocity[c][n] = std::cos(0.05f * n + c) * (c + 1.0f);
        }
        densityOptions.scale = 4096.0f;
        densityOptions.passes = 1;
        temperatureOptions.scale = 100.0f;
        temperatureOptions.offset = 300.0f;
        temperatureOptions.passes = 2;
        temperatureOptions.zoneSlices = 5;
        velocityOptions.scale = 1000.0f;
        velocityOptions.passes = 1;
        velocityOptions.zoneSlices = 3;
        for (float& t : temperature) t = 300.0f + 1200.0f * t;
    }
    KorWriter Writer() const {
        KorWriter w;
        w.Grid(kNx, kNy, kNz).FrameNumber(7);
        w.GridChannel(2, density, densityOptions).GridChannel(1, temperature, temperatureOptions);
        for (int c = 0; c < 3; ++c) w.GridChannel(4 + c, velocity[c], velocityOptions);
        return w;
    }
    std::vector<float> Decoded(const std::vector<float>& v, const SGGridOptions& o) const {
        return KorTest::SGGridDecoded(v.size(), v.data(), o);
    }
};

class HostGridChannels : public ::testing::Test {
protected:
    KorTest::TempDir dir;
};

TEST_F(HostGridChannels, DensityTemperatureVelocityAndSpeed) {
    const SmokeFrame s;
    const std::string path = dir.File("smoke.kor");
    ASSERT_TRUE(s.Writer().WriteFile(path));
    IKor* frame = newIKor(path.c_str());
    ASSERT_NE(frame, nullptr);
    int dims[3] = {};
    frame->GetGridDim(dims);
    EXPECT_EQ(dims[0], kNx);
    EXPECT_EQ(dims[2], kNz);
    EXPECT_TRUE(SameBits(frame->GetChannel(2), s.Decoded(s.density, s.densityOptions)));
    EXPECT_TRUE(SameBits(frame->GetChannel(1), s.Decoded(s.temperature, s.temperatureOptions)));
    std::vector<float> v[3];
    for (int c = 0; c < 3; ++c) {
        v[c] = s.Decoded(s.velocity[c], s.velocityOptions);
        EXPECT_TRUE(SameBits(frame->GetChannel(4 + c), v[c])) << c;
    }
    EXPECT_EQ(frame->HasChannel(3), 1);
    const float* speed = frame->GetChannel(3);
    ASSERT_NE(speed, nullptr);
    for (size_t n = 0; n < kCells; ++n)
        ASSERT_NEAR(speed[n], std::sqrt(v[0][n] * v[0][n] + v[1][n] * v[1][n] + v[2][n] * v[2][n]), 1e-5f) << n;
    // The density stays within what was written, to the quantisation step.
    const float* density = frame->GetChannel(2);
    for (size_t n = 0; n < kCells; ++n) ASSERT_NEAR(density[n], s.density[n], 0.5f / 4096.0f + 1e-6f);
    deleteIKor(frame);
}

TEST_F(HostGridChannels, DamagedChannelIsNullEveryTimeOthersStillDecode) {
    const SmokeFrame s;
    KorTest::Bytes broken = KorTest::SGGridStream(kNx, kNy, kNz, s.density.data(), s.densityOptions);
    broken.resize(broken.size() - 64);
    KorWriter w;
    w.Grid(kNx, kNy, kNz).Channel(2, broken).GridChannel(1, s.temperature, s.temperatureOptions);
    const std::string path = dir.File("damaged.kor");
    ASSERT_TRUE(w.WriteFile(path));
    IKor* frame = newIKor(path.c_str());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->HasChannel(2), 1);
    EXPECT_EQ(frame->GetChannel(2), nullptr);
    EXPECT_EQ(frame->GetChannel(2), nullptr);
    EXPECT_TRUE(SameBits(frame->GetChannel(1), s.Decoded(s.temperature, s.temperatureOptions)));
    deleteIKor(frame);
}

TEST_F(HostGridChannels, ConcurrentReadersShareEachDecodedChannel) {
    const SmokeFrame s;
    const std::string path = dir.File("shared.kor");
    ASSERT_TRUE(s.Writer().WriteFile(path));
    IKor* frame = newIKor(path.c_str());
    ASSERT_NE(frame, nullptr);
    constexpr int kThreads = 6;
    std::vector<std::vector<const float*>> got(kThreads, std::vector<const float*>(7, nullptr));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 7; ++k) {
                const int channel = 1 + (k + t) % 6;
                got[t][channel] = frame->GetChannel(channel);
            }
        });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t)
        for (int channel = 1; channel <= 6; ++channel) {
            EXPECT_NE(got[t][channel], nullptr);
            EXPECT_EQ(got[t][channel], frame->GetChannel(channel));
        }
    EXPECT_TRUE(SameBits(frame->GetChannel(2), s.Decoded(s.density, s.densityOptions)));
    deleteIKor(frame);
}

}  // namespace
