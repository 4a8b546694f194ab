// The README's channel tables against the public header: every row's id,
// name and enum agree with the header, and every named id of the header has
// its row.
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

// The source tree, from this file's own path (tests/e2e/...).
std::string SourceFile(const std::string& relative) {
    std::string here = __FILE__;
    for (int up = 0; up < 3; ++up) here = here.substr(0, here.find_last_of("/\\"));
    return here + "/" + relative;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// enum name -> value, for the enumerators of one prefix that name a channel.
std::map<std::string, int> HeaderIds(const std::string& header, const std::string& prefix) {
    std::map<std::string, int> ids;
    const std::regex enumerator("\\b(" + prefix + "[A-Z_]+) = ([0-9]+)");
    for (std::sregex_iterator m(header.begin(), header.end(), enumerator), end; m != end; ++m) {
        const std::string name = (*m)[1];
        if (name.find("_COUNT") == std::string::npos && name.find("_LAST_") == std::string::npos)
            ids[name] = std::stoi((*m)[2]);
    }
    return ids;
}

void ExpectTableMatches(const std::string& readme, const std::string& header, const std::string& prefix,
                        const char* (*nameOf)(int)) {
    std::map<std::string, int> missing = HeaderIds(header, prefix);
    ASSERT_FALSE(missing.empty()) << prefix;
    // | id | name | `ENUM` | notes |
    const std::regex row("\\n\\| ([0-9]+) \\| ([^ |]*) \\| `(" + prefix + "[A-Z_]+)` \\|");
    for (std::sregex_iterator m(readme.begin(), readme.end(), row), end; m != end; ++m) {
        const int id = std::stoi((*m)[1]);
        const std::string name = (*m)[2], enumerator = (*m)[3];
        EXPECT_EQ(name, nameOf(id)) << "README row of id " << id;
        const auto declared = missing.find(enumerator);
        ASSERT_NE(declared, missing.end()) << enumerator << " is not in the header, or has two rows";
        EXPECT_EQ(declared->second, id) << enumerator;
        missing.erase(declared);
    }
    for (const auto& [enumerator, id] : missing) ADD_FAILURE() << enumerator << " (" << id << ") has no README row";
}

}  // namespace

TEST(ChannelTable, ReadmeRowsMatchThePublicHeader) {
    const std::string readme = ReadText(SourceFile("README.md"));
    const std::string header = ReadText(SourceFile("include/korloader/korloader.h"));
    ASSERT_FALSE(readme.empty());
    ASSERT_FALSE(header.empty());
    ExpectTableMatches(readme, header, "KOR_GRID_", korGridChannelName);
    ExpectTableMatches(readme, header, "KOR_PARTICLE_", korParticleChannelName);
}
