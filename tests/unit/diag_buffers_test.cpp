// Log and debugger output rules, non-throwing arrays and zlib blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/zip_block.h"
#include "log_capture.h"
#include "support/byte_writer.h"
#include "util/alloc.h"
#include "util/nothrow_new.h"

TEST(LogRules, HashMessagesAlsoReachTheDebuggerWithTheirHash) {
    LogCapture log;
    LogPrint("#x=%d\n", 5);
    ASSERT_EQ(log.Debugger().size(), 1u);
    EXPECT_EQ(log.Debugger()[0], "#x=5\n");
    ASSERT_EQ(log.Log().size(), 1u);
    EXPECT_EQ(log.Log()[0], "x=5\n");  // the log file would get it without '#'
}

TEST(LogRules, OtherMessagesNeverReachTheDebugger) {
    LogCapture log;
    LogPrint("x=%d\n", 5);
    LogPrint(nullptr);
    EXPECT_TRUE(log.Debugger().empty());
    EXPECT_EQ(log.Log(), std::vector<std::string>{"x=5\n"});
}

TEST(LogRules, HashMessagesAreCutTo1023CharactersForTheDebugger) {
    LogCapture log;
    const std::string longText(3000, 'a');
    LogPrint("#%s", longText.c_str());
    EXPECT_EQ(log.Debugger()[0].size(), 1023u);
    EXPECT_EQ(log.Log()[0].size(), 3000u);  // the log file takes the whole message
}

TEST(LogRules, DebugPrintIsCutTo4095Characters) {
    LogCapture log;
    const std::string longText(5000, 'b');
    DebugPrint("%s", longText.c_str());
    ASSERT_EQ(log.Debugger().size(), 1u);
    EXPECT_EQ(log.Debugger()[0], std::string(4095, 'b'));
    EXPECT_TRUE(log.Log().empty());
}

TEST(NewArray, NeverThrowsAndReportsUnrepresentableSizes) {
    LogCapture log;
    float* array = reinterpret_cast<float*>(1);
    EXPECT_FALSE(newArray(array, SIZE_MAX / 2));
    EXPECT_EQ(array, nullptr);
    EXPECT_TRUE(newArray(array, 16));
    deleteArray(array);
    EXPECT_EQ(array, nullptr);
    ZUtils::FailAllocationAt(1);
    EXPECT_FALSE(newArray(array, 16));
    ZUtils::FailAllocationAt(0);
}

class ZipBlock : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 4096; ++i) data.push_back(static_cast<uint8_t>((i * 7) ^ (i >> 5)));
        block = KorTest::ZlibCompress(data.data(), data.size());
    }
    std::vector<uint8_t> data;
    KorTest::Bytes block;
};

TEST_F(ZipBlock, InflatesIntoADestinationOfExactSize) {
    LogCapture log;
    std::vector<uint8_t> out(data.size());
    EXPECT_TRUE(ZipDecompress(block.data(), static_cast<uint32_t>(block.size()), out.data(),
                              static_cast<uint32_t>(out.size())));
    EXPECT_EQ(out, data);
    EXPECT_TRUE(log.Log().empty());
}

TEST_F(ZipBlock, FailsWhenTheDestinationIsOneByteShort) {
    LogCapture log;
    std::vector<uint8_t> out(data.size() - 1);
    EXPECT_FALSE(ZipDecompress(block.data(), static_cast<uint32_t>(block.size()), out.data(),
                               static_cast<uint32_t>(out.size())));
    EXPECT_EQ(log.Log(), std::vector<std::string>{"Error decompressing Zip (0)\n"});
}

TEST_F(ZipBlock, LeavesTheBytesBehindTheDataUntouched) {
    std::vector<uint8_t> out(data.size() + 16, 0xEE);
    EXPECT_TRUE(ZipDecompress(block.data(), static_cast<uint32_t>(block.size()), out.data(),
                              static_cast<uint32_t>(out.size())));
    EXPECT_EQ(out[data.size()], 0xEE);
    EXPECT_EQ(out.back(), 0xEE);
}

TEST_F(ZipBlock, RefusesCutAndCorruptBlocks) {
    LogCapture log;
    std::vector<uint8_t> out(data.size());
    EXPECT_FALSE(ZipDecompress(block.data(), static_cast<uint32_t>(block.size() / 2), out.data(),
                               static_cast<uint32_t>(out.size())));
    KorTest::Bytes corrupt = block;
    corrupt[0] ^= 0xFF;  // header check fails
    EXPECT_FALSE(ZipDecompress(corrupt.data(), static_cast<uint32_t>(corrupt.size()), out.data(),
                               static_cast<uint32_t>(out.size())));
    EXPECT_FALSE(ZipDecompress(nullptr, 0, out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(log.Log().size(), 3u);
    EXPECT_TRUE(log.Logged("Error decompressing Zip (-3)\n"));
}
