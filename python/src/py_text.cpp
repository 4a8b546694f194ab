#include "py_text.h"

#include <cstring>

namespace py = pybind11;

namespace KorPython {

std::string PathBytes(py::handle path) {
    PyObject* bytes = nullptr;
    // Checks the type and rejects NUL characters, as open() does.
    if (PyUnicode_FSConverter(path.ptr(), &bytes) == 0) throw py::error_already_set();
    const py::bytes owned = py::reinterpret_steal<py::bytes>(bytes);
    return owned;
}

py::str PathText(const std::string& bytes) {
    PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

std::string NameBytes(py::handle text) {
    if (!PyUnicode_Check(text.ptr())) throw py::type_error("expected a str");
    const py::bytes encoded =
        py::reinterpret_steal<py::bytes>(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape"));
    if (!encoded) throw py::error_already_set();
    std::string bytes = encoded;
    if (std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) throw py::value_error("embedded null character");
    return bytes;
}

py::str NameText(const std::string& bytes) {
    PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

}  // namespace KorPython
