#include "functions.h"

#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "common/sequence.h"
#include "korloader/korloader.h"
#include "library_lock.h"
#include "paths/frame_paths.h"
#include "py_text.h"
#include "text_buffers.h"

namespace py = pybind11;

namespace KorPython {
namespace {

std::string Version() {
    const unsigned v = OstrelSDKGetVersionNumber();
    return std::to_string(v >> 16 & 0xFF) + "." + std::to_string(v >> 8 & 0xFF) + "." + std::to_string(v & 0xFF);
}

int InitPlugins(std::optional<py::bytes> directories, std::optional<std::string> suffix, int axisMode) {
    const std::optional<std::string> list = directories ? std::optional<std::string>(*directories) : std::nullopt;
    return Serialised([&] {
        return initalizeKoraLoader(list ? list->c_str() : nullptr, suffix ? suffix->c_str() : nullptr, axisMode);
    });
}

std::string DefaultMapping(py::handle path) {
    const std::string file = PathBytes(path);
    return Serialised([&] {
        return ReadWholeText(
            [&](char* out, int length) { return korGenerateDefaultChannelMappings(out, length, file.c_str()); });
    });
}

py::list GridNames(py::handle path) {
    const std::string file = PathBytes(path);
    std::vector<std::pair<std::string, bool>> grids = Serialised([&] {
        // The library gathers the grid list again for every index.
        std::vector<std::pair<std::string, bool>> found;
        for (int index = 0;; ++index) {
            int flag = 0;
            std::string name;
            if (!ReadWholeText(
                    [&](char* out, int length) {
                        return korGet3rdPartyChannelName(out, length, &flag, file.c_str(), index);
                    },
                    name))
                return found;
            found.emplace_back(std::move(name), flag != 0);
        }
    });
    py::list out;
    for (const auto& [name, vector] : grids) out.append(py::make_tuple(NameText(name), vector));
    return out;
}

std::string ComposeMapping(const std::vector<std::pair<int, py::handle>>& pairs) {
    std::vector<int> ids;
    std::vector<std::string> names;
    for (const auto& [id, name] : pairs) {
        names.push_back(NameBytes(name));
        // An entry ends at its ';': a name holding one would come back as two.
        if (names.back().find(';') != std::string::npos) throw py::value_error("a grid name cannot hold ';'");
        ids.push_back(id);
    }
    std::vector<const char*> pointers;
    for (const std::string& name : names) pointers.push_back(name.c_str());
    return ReadWholeText([&](char* out, int length) {
        return korComposeChannelMappingsString(out, length, ids.data(), pointers.data(), static_cast<int>(ids.size()));
    });
}

py::list DecomposeMapping(py::handle mapping) {
    const std::string text = NameBytes(mapping);
    py::list out;
    for (int index = 0;; ++index) {
        int id = 0;
        std::string name;
        if (!ReadWholeText(
                [&](char* buffer, int length) {
                    return korDecomposeChannelMappingsString(&id, buffer, length, text.c_str(), index);
                },
                name))
            return out;
        out.append(py::make_tuple(id, NameText(name)));
    }
}

std::vector<int> Frames(py::handle path) {
    const std::string pattern = PathBytes(path);
    py::gil_scoped_release nogil;
    std::vector<int> frames;
    for (const KorTools::SequenceFile& file : KorTools::ListSequence(pattern))
        if (file.frame != KorPaths::kNoFrame) frames.push_back(file.frame);
    return frames;
}

}  // namespace

void AddFunctions(py::module_& m) {
    m.def("version", &Version, "The library's version, \"3.4.0\" (from OstrelSDKGetVersionNumber).");
    m.def("_init_plugins", &InitPlugins, py::arg("directories"), py::arg("suffix"), py::arg("axis_mode"),
          "initalizeKoraLoader(directories, suffix, axis_mode); see korloader.init_plugins().");
    m.def("default_mapping", &DefaultMapping, py::arg("path"),
          "The default channel mapping string of an OpenVDB or Field3D file or sequence\n"
          "template, from the built-in grid name tables (\"\" for .kor files, or when no\n"
          "import module reads the file). The import modules must be loaded (init_plugins()).");
    m.def("grid_names", &GridNames, py::arg("path"),
          "The grids of an OpenVDB or Field3D file, or of every file of a sequence template,\n"
          "as [(name, is_vector_flag)] in order of first appearance. Needs init_plugins().");
    m.def("compose_mapping", &ComposeMapping, py::arg("pairs"),
          "A channel mapping string from [(channel id, grid name), ...]:\n"
          "compose_mapping([(2, \"density\"), (4, \"vel.x\")]) == \"2,density;4,vel.x;\".\n"
          "ValueError for a name holding ';'.");
    m.def("decompose_mapping", &DecomposeMapping, py::arg("mapping"),
          "The entries [(channel id, grid name), ...] of a channel mapping string.");
    m.def("frames", &Frames, py::arg("template"),
          "The frame numbers of the files that exist for a sequence template\n"
          "(\"smoke_####.kor\", \"smoke_%04d.vdb\", \"smoke_<frame04>.f3d\"), ascending. A file\n"
          "counts when the template with its own number gives its name exactly. A plain\n"
          "path gives the number in its name when the file exists.");
}

}  // namespace KorPython
