// One particle channel by compression method: the stored bytes of a channel
// decoded into a group of a given particle count on first use, every element
// read, and, for the ID channel, every ID looked up again.
//
// Input: byte 0 the method (any value; 0..4 are defined), byte 1 the channel
// id (low 5 bits), bytes 2..3 the particle count (16 bits; with bit 7 of
// byte 4 set, 2^31 - 1 minus it, a count that must be refused or fail to
// allocate); the rest is the stored bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "fuzz_options.h"
#include "particles/pgroup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint32_t method = data[0];
    const int channel = data[1] & 31;
    const int32_t small = static_cast<int32_t>(data[2] | data[3] << 8);
    const int32_t count = (data[4] & 0x80) ? 0x7fffffff - small : small;
    PGroup* group = new (std::nothrow) PGroup();
    if (group == nullptr) return 0;
    PGroup::Bytes stored;
    if (stored.SetSize(static_cast<int64_t>(size - 5))) {
        if (size > 5) std::memcpy(stored.Data(), data + 5, size - 5);
        group->SetParticleCount(count);
        group->SetCompressedChannel(channel, method, static_cast<PGroup::Bytes&&>(stored));
        const int elementSize = group->GetChannelSize(channel);
        unsigned char element[16];
        // Reads past what the fuzzer needs to see add nothing but time.
        const int32_t readable = count < 4096 ? count : 4096;
        for (int pass = 0; pass < 2; ++pass) {
            for (int32_t i = 0; i < readable; ++i) {
                std::memset(element, 0, sizeof element);
                if (!group->GetParticleChannel(i, channel, element)) break;
                if (elementSize < 0 || elementSize > 16) __builtin_trap();
            }
        }
        if (channel == 10 && group->HasChannel(10)) {
            for (int32_t i = 0; i < readable; ++i) {
                long long id = 0;
                if (!group->GetParticleChannel(i, 10, &id)) break;
                const int found = group->FindParticleByID(id);
                long long again = 0;
                // The lookup finds a particle holding that very ID.
                if (found < 0 || found >= count || !group->GetParticleChannel(found, 10, &again) || again != id)
                    __builtin_trap();
            }
            group->FindParticleByID(-1);
        }
    }
    delete group;
    return 0;
}
