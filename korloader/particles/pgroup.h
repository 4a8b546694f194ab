// A particle group of a frame, served to hosts as IOstrelPrtGroup.
// (Channel records and decoding arrive with the particle readers.)
#pragma once
#include <cstdint>

#include "korloader/korloader.h"
#include "util/kor_string.h"

class PGroup : public IOstrelPrtGroup {
public:
    PGroup() noexcept = default;
    PGroup(PGroup&&) noexcept = default;
    PGroup& operator=(PGroup&&) noexcept = default;
    virtual ~PGroup() = default;

    const char* GetName() override { return name.c_str(); }
    int GetNumParticles() override { return HasChannel(0) ? particleCount : 0; }
    int GetParticleChannel(int, int, void*) override { return 0; }
    int HasChannel(int) override { return 0; }
    int GetChannelSize(int) override { return 0; }
    int FindParticleByID(long long) override { return -1; }
    int GetChannelType(int) override { return 0; }
    int GetChannelComponents(int) override { return 0; }

    ZUtils::String name;
    uint32_t channelMask = 0;
    uint32_t attributes = 0;
    int32_t particleCount = 0;
    IKor* frame = nullptr;
};
