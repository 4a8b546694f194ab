// Result codes of the OpenVDB module. The library hands a non-zero import
// code to its caller unchanged, so these stay clear of the library's own load
// codes (2, 3, 4, 9) and never change meaning once published.
#pragma once

namespace VdbPlug {

enum Code : int {
    kOk = 0,
    // The path is null or empty, or the file cannot be opened for reading.
    kNoFile = 21,
    // Not a VDB file, or OpenVDB could not read it (damaged or truncated
    // data, a grid type this OpenVDB does not know, an unsupported version).
    kDamaged = 22,
    // No mapping names a grid of the file that can be imported (float,
    // double or half-stored float scalars; float or double vectors).
    kNoGrid = 23,
    // The dense box covering the mapped grids holds more than 2^31-1 cells,
    // or memory for its channels could not be allocated.
    kTooLarge = 24,
    // The first imported grid has a non-linear (frustum) transform, which
    // twelve floats cannot express.
    kNonLinear = 25,
    // Null frame, negative count or null mapping array with a positive count.
    kBadArguments = 26,
    // Any other failure caught inside the module.
    kInternal = 27,
};

}  // namespace VdbPlug
