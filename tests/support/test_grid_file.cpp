#include "support/test_grid_file.h"

#include <cstdio>
#include <cstring>

#include "support/native_path.h"

namespace KorTest {
namespace {

template <class T>
void Put(std::vector<uint8_t>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

}  // namespace

bool WriteTestGridFile(const std::string& path, const TestGridFile& file) {
    std::vector<uint8_t> out(kTestGridMagic, kTestGridMagic + 4);
    Put(out, file.importStatus);
    Put(out, file.axisResult);
    Put(out, file.nx);
    Put(out, file.ny);
    Put(out, file.nz);
    for (float t : file.transform) Put(out, t);
    Put(out, static_cast<int32_t>(file.grids.size()));
    const int64_t cells = static_cast<int64_t>(file.nx) * file.ny * file.nz;
    for (const TestGrid& grid : file.grids) {
        Put(out, grid.flag);
        Put(out, static_cast<int32_t>(grid.name.size()));
        out.insert(out.end(), grid.name.begin(), grid.name.end());
        for (int64_t n = 0; n < cells; ++n)
            Put(out, n < static_cast<int64_t>(grid.values.size()) ? grid.values[static_cast<size_t>(n)] : 0.0f);
    }
    FILE* f = OpenNarrow(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

TestGridFile GridsNamed(const std::vector<std::string>& names) {
    TestGridFile file;
    float base = 0;
    for (const std::string& name : names) {
        TestGrid grid;
        grid.name = name;
        for (int n = 0; n < 8; ++n) grid.values.push_back(base + static_cast<float>(n + 1));
        file.grids.push_back(grid);
        base += 100;
    }
    return file;
}

}  // namespace KorTest
