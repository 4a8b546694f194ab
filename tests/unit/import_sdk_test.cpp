// What an import module relies on: the frame layout view, the helpers that
// hand arrays and records over, and strings made on the module's side.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/ostrel_frame_data.h"
#include "plugin_sdk/kor_plugin.h"

namespace {

TEST(PluginSdk, TheLayoutViewWritesTheFramesOwnMembers) {
    OstrelFrameData frame;
    const float transform[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    KorPlugin::SetGrid(&frame, 3, 4, 5, transform);
    EXPECT_EQ(frame.nx, 3);
    EXPECT_EQ(frame.ny, 4);
    EXPECT_EQ(frame.nz, 5);
    EXPECT_EQ(std::memcmp(frame.transform, transform, sizeof transform), 0);

    float* array = KorPlugin::NewChannelArray(60);
    ASSERT_NE(array, nullptr);
    for (int n = 0; n < 60; ++n) array[n] = static_cast<float>(n);
    EXPECT_TRUE(KorPlugin::SetChannel(&frame, 30, array));
    EXPECT_EQ(frame.channels[30], array);
    EXPECT_EQ(frame.channelMask, 1u << 30);
    EXPECT_EQ(frame.GetChannel(30), array);
    EXPECT_EQ(KorPlugin::Frame(&frame)->frameNumber, frame.frameNumber);

    // A replaced array is released (the frame releases the last one).
    EXPECT_TRUE(KorPlugin::SetChannel(&frame, 30, KorPlugin::NewChannelArray(60)));
    EXPECT_TRUE(KorPlugin::SetChannel(&frame, 0, KorPlugin::NewChannelArray(60)));
    EXPECT_EQ(frame.channelMask, (1u << 30) | 1u);
}

TEST(PluginSdk, ChannelsOutsideTheGridAreRefused) {
    OstrelFrameData frame;
    for (int channel : {-1, 31, 32, 1000, INT32_MIN}) {
        EXPECT_FALSE(KorPlugin::SetChannel(&frame, channel, KorPlugin::NewChannelArray(8))) << channel;
        EXPECT_EQ(frame.channelMask, 0u);
    }
    EXPECT_TRUE(KorPlugin::SetChannel(&frame, 5, nullptr));  // clearing is allowed
    EXPECT_EQ(frame.channelMask, 0u);
    EXPECT_EQ(KorPlugin::NewChannelArray(SIZE_MAX / 2), nullptr);
}

TEST(PluginSdk, RecordsKeepTheirPublishedSizesAndDefaults) {
    CacheIO::GridMapping mapping;
    EXPECT_EQ(mapping.scale, 1.0f);
    EXPECT_EQ(mapping.extra, 0);
    EXPECT_TRUE(mapping.name.Empty());
    iArray<CacheIO::AvailableChannels> list;
    EXPECT_TRUE(KorPlugin::AppendAvailableChannel(&list, "density", 3));
    EXPECT_TRUE(KorPlugin::AppendAvailableChannel(&list, nullptr, 0));
    EXPECT_FALSE(KorPlugin::AppendAvailableChannel(nullptr, "x", 0));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_STREQ(list[0].name.c_str(), "density");
    EXPECT_EQ(list[0].flag, 3);
    EXPECT_STREQ(list[1].name.c_str(), "");
    ZUtils::FailAllocationAt(1, true);
    EXPECT_FALSE(KorPlugin::AppendAvailableChannel(&list, "no memory", 0));
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(list.Count(), 2);
}

// A string whose buffer could not be allocated points at a shared empty
// buffer. A module has its own copy of that buffer, at another address, and
// may hand such a string over; the library must never free it.
TEST(PluginSdk, AnotherCopysEmptyStringIsNeverFreed) {
    struct EmptyRep {
        int32_t capacity = 0;
        int32_t length = 0;
        char16_t* wide = nullptr;
        char chars[8] = {};
    };
    static EmptyRep foreign;  // as another module's copy would look
    alignas(ZUtils::String) unsigned char raw[sizeof(ZUtils::String)];
    char* chars = foreign.chars;
    std::memcpy(raw, &chars, sizeof chars);
    ZUtils::String* s = reinterpret_cast<ZUtils::String*>(raw);
    EXPECT_STREQ(s->c_str(), "");
    ASSERT_NE(s->Wide(), nullptr);
    EXPECT_EQ(s->Wide()[0], 0);
    s->Clear();
    EXPECT_TRUE(s->Assign("now allocated"));
    EXPECT_STREQ(s->c_str(), "now allocated");
    s->~String();
    EXPECT_EQ(foreign.wide, nullptr);
    EXPECT_EQ(foreign.length, 0);
}

}  // namespace
