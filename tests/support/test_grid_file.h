// A tiny grid file format that exists only for the tests: the test import
// modules (tests/modules/) read it the way vdbplug and f3dplug read OpenVDB
// and Field3D files, so the whole import path runs without those libraries.
//
// Layout, little-endian:
//   "KTG1"; int32 importStatus (what the module's import returns; 0 = fill the
//   frame); int32 axisResult (written to *axisResult); int32 nx, ny, nz;
//   float transform[12]; int32 gridCount; then per grid: uint8 flag,
//   int32 nameLength, the name bytes, nx*ny*nz floats.
//
// Grid names starting with '@' ask the module for facts about itself when it
// lists the file: "@tag" is listed as "@tag=<the module's build tag>",
// "@init" as "@init=<how often Initialize ran>".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace KorTest {

constexpr char kTestGridMagic[4] = {'K', 'T', 'G', '1'};

struct TestGrid {
    std::string name;
    uint8_t flag = 0;
    std::vector<float> values;  // padded with zeros or cut to nx*ny*nz
};

struct TestGridFile {
    int32_t importStatus = 0;
    int32_t axisResult = 0;
    int32_t nx = 2, ny = 2, nz = 2;
    float transform[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::vector<TestGrid> grids;
};

// Writes the file (creating or replacing it); false on any I/O error.
bool WriteTestGridFile(const std::string& path, const TestGridFile& file);

// A file with the named grids (flag 0, values 1, 2, 3, ... per grid i starting
// at 100*i) on a 2x2x2 grid.
TestGridFile GridsNamed(const std::vector<std::string>& names);

}  // namespace KorTest
