// The extension module korloader._korloader; the package korloader
// (__init__.py) re-exports it and adds init_plugins().
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <mutex>

#include "errors.h"
#include "frame.h"
#include "functions.h"
#include "group.h"
#include "library_lock.h"
#include "log_lines.h"

namespace py = pybind11;

namespace KorPython {

std::mutex& LibraryMutex() {
    // Never destroyed: frames may be given back while the process exits.
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

}  // namespace KorPython

PYBIND11_MODULE(_korloader, m) {
    m.doc() = "Frames and particle groups of fluid simulation caches as numpy arrays.";
    py::module_::import("numpy");
    KorPython::InstallLogSink();
    KorPython::AddErrors(m);
    KorPython::AddGroup(m);
    KorPython::AddFrame(m);
    m.def("open", &KorPython::Frame::Open, py::arg("path"), py::arg("mapping") = py::none(),
          "Opens a frame: a .kor file, or an OpenVDB or Field3D file through the import\n"
          "modules (init_plugins()) with `mapping` (a channel mapping string) or, when it\n"
          "is None, the file's default mapping. Opening the same path and mapping again\n"
          "shares the frame the library already holds.\n\n"
          "FileNotFoundError when the file does not exist; KorError (with the load status\n"
          "and the library's log lines) when the library refuses it.");
    KorPython::AddFunctions(m);
}
