#include "frame.h"

#include <algorithm>
#include <utility>

#include "channel_keys.h"
#include "errors.h"
#include "korloader/korloader.h"
#include "log_lines.h"
#include "py_text.h"

namespace py = pybind11;

namespace KorPython {
namespace {

// A read-only float32 array of shape (nz, ny, nx) over the frame's channel,
// whose base owns `holder`: the frame stays alive as long as the array and
// every view of it.
py::array ChannelView(const float* values, const std::array<int, 3>& dims, std::unique_ptr<FrameRef> holder) {
    py::capsule base(holder.get(), [](void* ref) { delete static_cast<FrameRef*>(ref); });
    holder.release();
    py::array_t<float> view({py::ssize_t{dims[2]}, py::ssize_t{dims[1]}, py::ssize_t{dims[0]}}, values, base);
    view.attr("setflags")(py::arg("write") = false);
    return view;
}

}  // namespace

Frame::Frame(std::unique_ptr<FrameRef> ref) : ref_(std::move(ref)), path_(ref_->Path()), mapping_(ref_->Mapping()) {
    IKor* frame = ref_->Frame();
    frame->GetGridDim(dims_.data());
    frame->GetTransform(transform_.data());
}

Frame Frame::Open(py::handle path, std::optional<py::handle> mapping) {
    const std::string file = PathBytes(path);
    std::string mappingText;
    if (mapping && !mapping->is_none()) mappingText = NameBytes(*mapping);
    FrameRef::Opened opened;
    {
        py::gil_scoped_release nogil;
        opened = FrameRef::Open(file, mapping && !mapping->is_none() ? &mappingText : nullptr);
    }
    if (opened.ref == nullptr) RaiseOpenError(file, opened.status, opened.log);
    return Frame(std::move(opened.ref));
}

IKor* Frame::Live() const {
    if (ref_ == nullptr) throw py::value_error("the frame is closed");
    return ref_->Frame();
}

py::str Frame::Mapping() const { return NameText(mapping_); }

py::tuple Frame::Dims() const { return py::make_tuple(dims_[0], dims_[1], dims_[2]); }

py::tuple Frame::Shape() const { return py::make_tuple(dims_[2], dims_[1], dims_[0]); }

py::array_t<float> Frame::Transform() const {
    py::array_t<float> rows({4, 3});
    std::copy(transform_.begin(), transform_.end(), rows.mutable_data());
    return rows;
}

std::vector<int> Frame::ChannelIds() const { return AvailableIds(*Live()); }

std::vector<std::string> Frame::ChannelNames() const { return NamesOf(ChannelKind::Grid, ChannelIds()); }

py::array Frame::Channel(py::handle key) const {
    IKor* frame = Live();
    const int id = ChannelId(ChannelKind::Grid, key);
    if (frame->HasChannel(id) != 1) RaiseKeyError(key);
    std::unique_ptr<FrameRef> holder = ref_->Retain();
    if (holder == nullptr) throw std::bad_alloc();
    const float* values = nullptr;
    std::vector<std::string> log;
    {
        // Decoding runs without the GIL: other threads decode other channels
        // meanwhile (one channel decodes once, under the library's lock).
        py::gil_scoped_release nogil;
        ThreadLog lines;
        values = frame->GetChannel(id);
        if (values == nullptr) log = lines.Take();
    }
    if (values == nullptr)
        RaiseDecodeError(path_, "channel " + std::to_string(id) + " (" + ChannelName(ChannelKind::Grid, id) + ")", log);
    return ChannelView(values, dims_, std::move(holder));
}

std::vector<Group> Frame::Groups() const {
    IKor* frame = Live();
    std::vector<Group> groups;
    const int count = frame->GetNumParticleGroups();
    for (int index = 0; index < count; ++index) {
        IOstrelPrtGroup* group = frame->GetParticleGroup(index);
        if (group == nullptr) continue;
        std::unique_ptr<FrameRef> holder = ref_->Retain();
        if (holder == nullptr) throw std::bad_alloc();
        groups.emplace_back(std::move(holder), group);
    }
    return groups;
}

Group Frame::GroupByName(py::handle name) const {
    IKor* frame = Live();
    IOstrelPrtGroup* group = frame->GetParticleGroupByName(NameBytes(name).c_str());
    if (group == nullptr) RaiseKeyError(name);
    std::unique_ptr<FrameRef> holder = ref_->Retain();
    if (holder == nullptr) throw std::bad_alloc();
    return Group(std::move(holder), group);
}

std::string Frame::Repr() const {
    const std::string path = py::repr(Path()).cast<std::string>();
    if (Closed()) return "<korloader.Frame " + path + " closed>";
    return "<korloader.Frame " + path + " " + std::to_string(dims_[0]) + "x" + std::to_string(dims_[1]) + "x" +
           std::to_string(dims_[2]) + ">";
}

void AddFrame(py::module_& m) {
    py::class_<Frame>(m, "Frame",
                      "An open frame: its grid channels as numpy arrays and its particle groups.\n\n"
                      "Made by korloader.open(). Usable as a context manager: leaving the block\n"
                      "gives the frame's reference back (close()); arrays and groups taken from\n"
                      "it stay valid, each holding its own reference.")
        .def_property_readonly("path", &Frame::Path, "The path the frame was opened with.")
        .def_property_readonly("mapping", &Frame::Mapping,
                               "The channel mapping string the frame was opened with (\"\" for .kor files).")
        .def_property_readonly("dims", &Frame::Dims, "The grid dimensions (nx, ny, nz).")
        .def_property_readonly("shape", &Frame::Shape, "The numpy shape of a channel, (nz, ny, nx).")
        .def_property_readonly("transform", &Frame::Transform,
                               "The grid transform as a float32 array (4, 3): rows a, b, c (the axes), then\n"
                               "the offset. Positions of particles are in cell coordinates.")
        .def("channel_ids", &Frame::ChannelIds, "The grid channel ids the frame can give, ascending.")
        .def("channel_names", &Frame::ChannelNames,
             "The names of channel_ids(): \"temperature\", \"smoke\", \"speed\", \"velocity.x\", ...\n"
             "(an id without a name appears as its number, e.g. \"11\").")
        .def("channel", &Frame::Channel, py::arg("key"),
             "A grid channel by id or name, as a read-only float32 array of shape\n"
             "(nz, ny, nx), C order: a[k, j, i] is cell (i, j, k).\n\n"
             "The array is a view of the frame's own memory (no copy) and keeps the frame\n"
             "alive. The channel is decoded on first request, without the GIL.\n"
             "KeyError when the frame has no such channel; KorError when it does not decode.")
        .def("__getitem__", &Frame::Channel, py::arg("key"), "The same as channel(key).")
        .def_property_readonly("groups", &Frame::Groups,
                               "The particle groups that hold positions, in index order (list of Group).")
        .def("group", &Frame::GroupByName, py::arg("name"),
             "The first group with exactly this name, with or without positions. KeyError when absent.")
        .def("close", &Frame::Close,
             "Gives the frame's reference back. Arrays and groups taken from it stay valid.\n"
             "Afterwards only path, mapping, dims, shape and transform answer; the rest\n"
             "raises ValueError.")
        .def_property_readonly("closed", &Frame::Closed, "True once close() was called.")
        .def(
            "__enter__", [](py::object self) { return self; }, "Returns the frame itself.")
        .def(
            "__exit__", [](Frame& self, py::args) { self.Close(); }, "Calls close().")
        .def("__repr__", &Frame::Repr);
}

}  // namespace KorPython
