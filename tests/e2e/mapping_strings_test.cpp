// The channel mapping exports as a host calls them, without any import
// module: composing, splitting, buffer rules and hostile arguments.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "korloader/korloader.h"

namespace {

// A copy of `text` in a heap block of exactly its size, so that a read past
// its terminator is caught by the address sanitizer.
std::vector<char> Exact(const std::string& text) {
    std::vector<char> block(text.begin(), text.end());
    block.push_back('\0');
    block.shrink_to_fit();
    return block;
}

struct Decomposed {
    int result = -2;
    int id = -12345;
    std::string name;
};

Decomposed Decompose(const std::string& mapping, int index, int nameLen = 256) {
    std::vector<char> text = Exact(mapping);
    std::vector<char> name(static_cast<size_t>(nameLen > 0 ? nameLen : 1), '\x7f');
    Decomposed d;
    d.result = korDecomposeChannelMappingsString(&d.id, name.data(), nameLen, text.data(), index);
    if (d.result >= 0 && nameLen > 0) d.name = name.data();
    return d;
}

std::string Compose(std::vector<int> ids, std::vector<const char*> names, int* result = nullptr) {
    char out[512];
    const int r = korComposeChannelMappingsString(out, sizeof out, ids.data(), names.data(), static_cast<int>(ids.size()));
    if (result) *result = r;
    return out;
}

TEST(MappingExports, ComposeAndDecomposeRoundTrip) {
    int result = -2;
    EXPECT_EQ(Compose({2, 10}, {"density", "fuel"}, &result), "2,density;10,fuel;");
    EXPECT_EQ(result, 1);
    const Decomposed second = Decompose("2,density;10,fuel;", 1);
    EXPECT_EQ(second.result, 1);
    EXPECT_EQ(second.id, 10);
    EXPECT_EQ(second.name, "fuel");
    EXPECT_EQ(Decompose("2,density;10,fuel;", 0).name, "density");
    EXPECT_EQ(Decompose("2,density;10,fuel;", 2).result, -1);
}

TEST(MappingExports, NamesWithCommasSurvive) {
    const std::string text = Compose({4, -3}, {"vel,x", ",,"});
    EXPECT_EQ(text, "4,vel,x;-3,,,;");
    EXPECT_EQ(Decompose(text, 0).id, 4);
    EXPECT_EQ(Decompose(text, 0).name, "vel,x");
    EXPECT_EQ(Decompose(text, 1).id, -3);
    EXPECT_EQ(Decompose(text, 1).name, ",,");
}

TEST(MappingExports, EntriesAreTakenAsWrittenDuplicatesKept) {
    const std::string text = " 7, a b ;7, a b ;x,y;;5,;";
    EXPECT_EQ(Decompose(text, 0).id, 7);
    EXPECT_EQ(Decompose(text, 0).name, " a b ");
    EXPECT_EQ(Decompose(text, 1).name, " a b ");
    EXPECT_EQ(Decompose(text, 2).id, 0);  // "x" reads as 0
    EXPECT_EQ(Decompose(text, 2).name, "y");
    // ";5" is the channel text of the next entry: it reads as 0.
    EXPECT_EQ(Decompose(text, 3).id, 0);
    EXPECT_EQ(Decompose(text, 3).name, "");
    EXPECT_EQ(Decompose(text, 4).result, -1);
}

TEST(MappingExports, LastEntryWithoutItsSeparatorsStaysInsideTheText) {
    // No ';' after the last name: the name runs to the end of the text.
    const Decomposed cut = Decompose("2,density;10,fu", 1);
    EXPECT_EQ(cut.result, 1);
    EXPECT_EQ(cut.id, 10);
    EXPECT_EQ(cut.name, "fu");
    // No ',' in the last entry: it names no grid and is not an entry.
    EXPECT_EQ(Decompose("2,density;10", 1).result, -1);
    EXPECT_EQ(Decompose("2,density;1", 0).result, 1);
    EXPECT_EQ(Decompose("5,", 0).name, "");
    EXPECT_EQ(Decompose(",", 0).id, 0);
    EXPECT_EQ(Decompose("1", 0).result, -1);
    EXPECT_EQ(Decompose(";", 0).result, -1);
}

TEST(MappingExports, ChannelNumbersOutsideIntSaturate) {
    EXPECT_EQ(Decompose("99999999999999999999,a;", 0).id, INT_MAX);
    EXPECT_EQ(Decompose("-99999999999999999999,a;", 0).id, INT_MIN);
    EXPECT_EQ(Decompose("-2147483648,a;", 0).id, INT_MIN);
    EXPECT_EQ(Compose({INT_MIN}, {"a"}), "-2147483648,a;");
}

TEST(MappingExports, BufferRules) {
    int ids[] = {2};
    const char* names[] = {"density"};  // "2,density;" is 10 characters
    char out[16];

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(korComposeChannelMappingsString(out, 0, ids, names, 1), 0);
    EXPECT_EQ(out[0], '#');  // nothing written
    EXPECT_EQ(korComposeChannelMappingsString(out, -5, ids, names, 1), 0);
    EXPECT_EQ(out[0], '#');

    EXPECT_EQ(korComposeChannelMappingsString(out, 1, ids, names, 1), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '#');

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(korComposeChannelMappingsString(out, 10, ids, names, 1), 0);
    EXPECT_STREQ(out, "2,density");
    EXPECT_EQ(out[10], '#');

    EXPECT_EQ(korComposeChannelMappingsString(out, 11, ids, names, 1), 1);
    EXPECT_STREQ(out, "2,density;");

    // An empty mapping fits any buffer of at least one character.
    EXPECT_EQ(korComposeChannelMappingsString(out, 1, ids, names, 0), 1);
    EXPECT_STREQ(out, "");

    const Decomposed cut = Decompose("2,density;", 0, 4);
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.id, 2);
    EXPECT_EQ(cut.name, "den");
    EXPECT_EQ(Decompose("2,density;", 0, 8).result, 1);
    EXPECT_EQ(Decompose("2,density;", 0, 7).result, 0);
}

TEST(MappingExports, NullPointersAndNegativeOrHugeArguments) {
    int ids[] = {2, 3};
    const char* names[] = {"a", nullptr};
    char out[32] = "unchanged";

    EXPECT_EQ(korComposeChannelMappingsString(nullptr, 32, ids, names, 2), 0);
    EXPECT_EQ(korComposeChannelMappingsString(out, 32, nullptr, names, 2), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(korComposeChannelMappingsString(out, 32, ids, nullptr, 2), 1);
    EXPECT_EQ(korComposeChannelMappingsString(out, 32, ids, names, -1), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(korComposeChannelMappingsString(out, 32, ids, names, INT_MIN), 1);
    EXPECT_EQ(korComposeChannelMappingsString(out, 32, ids, names, 2), 1);
    EXPECT_STREQ(out, "2,a;3,;");  // a null name is empty

    int id = -7;
    char name[8] = "keep";
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, name, 8, nullptr, 0), -1);
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, name, 8, "", 0), -1);
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, name, 8, "1,a;", -1), -1);
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, name, 8, "1,a;", INT_MIN), -1);
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, name, 8, "1,a;", INT_MAX), -1);
    EXPECT_EQ(id, -7);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(korDecomposeChannelMappingsString(nullptr, name, 8, "1,a;", 0), 1);
    EXPECT_STREQ(name, "a");
    EXPECT_EQ(korDecomposeChannelMappingsString(&id, nullptr, 8, "1,a;", 0), 0);
    EXPECT_EQ(id, 1);

    int flag = -7;
    EXPECT_EQ(korGet3rdPartyChannelName(out, 32, &flag, nullptr, 0), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(out, 32, &flag, "", 0), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(out, 32, &flag, "no/such/file.vdb", 0), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(out, 32, &flag, "no/such/file.vdb", -1), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(out, 32, &flag, "no/such/file.vdb", INT_MIN), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(nullptr, 0, nullptr, "no/such/Cache_####.vdb", 0), -1);
    EXPECT_EQ(flag, -7);
}

TEST(MappingExports, HugeCompositions) {
    // 20000 mappings with long names: far more than any buffer below holds.
    const std::string longName(1000, 'n');
    std::vector<int> ids(20000, 30);
    std::vector<const char*> names(ids.size(), longName.c_str());
    std::vector<char> out(64, '#');
    EXPECT_EQ(korComposeChannelMappingsString(out.data(), 64, ids.data(), names.data(), static_cast<int>(ids.size())), 0);
    EXPECT_EQ(std::string(out.data()), "30," + longName.substr(0, 60));

    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + ",g" + std::to_string(i) + ";";
    const Decomposed last = Decompose(text, 19999);
    EXPECT_EQ(last.id, 19999);
    EXPECT_EQ(last.name, "g19999");
    EXPECT_EQ(Decompose(text, 20000).result, -1);
}

TEST(MappingExports, DefaultMappingOfPathsWithoutForeignGrids) {
    char out[16];
    std::memset(out, '#', sizeof out);
    for (const char* path : {static_cast<const char*>(nullptr), "", "a.kor", "a.txt", "no/such/file.vdb",
                             "no/such/file.f3d", "no/such/Cache_####.vdb", "noextension"}) {
        out[0] = '#';
        EXPECT_EQ(korGenerateDefaultChannelMappings(out, sizeof out, path), 1) << (path ? path : "null");
        EXPECT_STREQ(out, "");
    }
    out[0] = '#';
    EXPECT_EQ(korGenerateDefaultChannelMappings(out, 0, "a.kor"), 0);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(korGenerateDefaultChannelMappings(nullptr, 16, "a.kor"), 0);
}

}  // namespace
