#include "errors.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/load_status.h"
#include "py_text.h"

namespace py = pybind11;

namespace KorPython {
namespace {

constexpr int kNoUsableFile = 3;

PyObject* g_korError = nullptr;  // korloader._errors keeps it alive

[[noreturn]] void RaiseKorError(const std::string& path, py::object status, const std::string& message,
                                const std::vector<std::string>& log) {
    // The message, then the library's lines, one per line.
    py::list parts, lines;
    parts.append(py::str("{}: {}").format(PathText(path), NameText(message)));
    for (const std::string& line : log) {
        lines.append(NameText(line));
        parts.append(lines[lines.size() - 1]);
    }
    py::object error = py::reinterpret_borrow<py::object>(g_korError)(py::str("\n  ").attr("join")(parts),
                                                                      PathText(path), std::move(status), lines);
    PyErr_SetObject(g_korError, error.ptr());
    throw py::error_already_set();
}

}  // namespace

void AddErrors(py::module_& m) {
    py::object type = py::module_::import("korloader._errors").attr("KorError");
    g_korError = type.ptr();
    m.add_object("KorError", type);
}

void RaiseOpenError(const std::string& path, int status, const std::vector<std::string>& log) {
    std::error_code error;
    if (status == kNoUsableFile && !std::filesystem::exists(std::filesystem::path(path), error) && !error) {
        PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, std::strerror(ENOENT), PathText(path)).ptr());
        throw py::error_already_set();
    }
    RaiseKorError(path, py::int_(status),
                  "cannot read (status " + std::to_string(status) + ": " + KorTools::LoadStatusText(status) + ")", log);
}

void RaiseDecodeError(const std::string& path, const std::string& what, const std::vector<std::string>& log) {
    RaiseKorError(path, py::none(), what + " does not decode", log);
}

void RaiseKeyError(py::handle key) {
    PyErr_SetObject(PyExc_KeyError, key.ptr());
    throw py::error_already_set();
}

}  // namespace KorPython
