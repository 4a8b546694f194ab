// The module's functions: the version, the import modules, channel mapping
// strings, the grids of foreign files and the frames of a sequence.
#pragma once
#include <pybind11/pybind11.h>

namespace KorPython {

void AddFunctions(pybind11::module_& m);

}  // namespace KorPython
