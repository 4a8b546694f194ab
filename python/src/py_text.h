// Text between Python and the library. Paths are passed as the bytes that
// os.fsencode() gives (str, bytes or os.PathLike), so that a file name that
// is not valid UTF-8 still reaches the file; other texts are UTF-8.
#pragma once
#include <pybind11/pybind11.h>

#include <string>

namespace KorPython {

// The bytes of a path; TypeError for other objects, ValueError for a
// path with a NUL character.
std::string PathBytes(pybind11::handle path);
// A path's bytes back as str, as os.fsdecode() would.
pybind11::str PathText(const std::string& bytes);

// A str as UTF-8, the way names and mappings are stored (a name that came
// from a file survives the round trip); ValueError for a NUL character.
std::string NameBytes(pybind11::handle text);
// Bytes from the library (names from a file, log lines) as str.
pybind11::str NameText(const std::string& bytes);

}  // namespace KorPython
