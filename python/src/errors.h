// The errors raised for a refused file (korloader.KorError, an OSError
// defined in korloader/_errors.py, or FileNotFoundError)
// and for a channel that does not decode. Each raise throws
// pybind11::error_already_set.
#pragma once
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace KorPython {

// Puts KorError into the module.
void AddErrors(pybind11::module_& m);

// A failed open: FileNotFoundError when the file is not there, else
// KorError with the load status and the library's log lines.
[[noreturn]] void RaiseOpenError(const std::string& path, int status, const std::vector<std::string>& log);

// A channel of the frame at `path` that does not decode: KorError whose
// status is None, with the library's log lines. `what` names the channel.
[[noreturn]] void RaiseDecodeError(const std::string& path, const std::string& what,
                                   const std::vector<std::string>& log);

// KeyError(key), as a dict raises it.
[[noreturn]] void RaiseKeyError(pybind11::handle key);

}  // namespace KorPython
