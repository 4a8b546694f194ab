#include "group.h"

#include <cstdint>
#include <utility>

#include "channel_keys.h"
#include "errors.h"
#include "korloader/korloader.h"
#include "log_lines.h"

namespace py = pybind11;

namespace KorPython {
namespace {

// How the elements of a channel become the columns of an (n, columns)
// array: by its type code, else as raw 32-bit words.
struct Columns {
    py::dtype dtype;
    py::ssize_t count;
};

Columns ColumnsOf(int type, int components, int elementBytes) {
    auto fits = [&](size_t itemBytes) {
        return components > 0 && size_t(components) * itemBytes == size_t(elementBytes);
    };
    if (type == KOR_TYPE_FLOAT && fits(sizeof(float))) return {py::dtype::of<float>(), components};
    if (type == KOR_TYPE_INT64 && fits(sizeof(int64_t))) return {py::dtype::of<int64_t>(), components};
    if (type == KOR_TYPE_UINT32 && fits(sizeof(uint32_t))) return {py::dtype::of<uint32_t>(), components};
    return {py::dtype::of<uint32_t>(), elementBytes / 4};
}

}  // namespace

Group::Group(std::unique_ptr<FrameRef> ref, IOstrelPrtGroup* group) noexcept : ref_(std::move(ref)), group_(group) {}

py::str Group::Name() const { return NameText(group_->GetName()); }

int Group::Size() const { return group_->GetNumParticles(); }

std::vector<int> Group::ChannelIds() const { return AvailableIds(*group_); }

std::vector<std::string> Group::ChannelNames() const { return NamesOf(ChannelKind::Particle, ChannelIds()); }

py::array Group::Channel(py::handle key) const {
    const int id = ChannelId(ChannelKind::Particle, key);
    if (group_->HasChannel(id) != 1) RaiseKeyError(key);
    const int count = group_->GetNumParticles();
    const int elementBytes = group_->GetChannelSize(id);
    const Columns columns = ColumnsOf(group_->GetChannelType(id), group_->GetChannelComponents(id), elementBytes);
    py::array values(columns.dtype, {py::ssize_t{count}, columns.count});
    auto* out = static_cast<unsigned char*>(values.mutable_data());
    int failed = -1;
    std::vector<std::string> log;
    {
        // The channel decodes on its first read; every read copies one
        // particle's element.
        py::gil_scoped_release nogil;
        ThreadLog lines;
        for (int i = 0; i < count && failed < 0; ++i)
            if (group_->GetParticleChannel(i, id, out + ptrdiff_t{i} * elementBytes) != 1) failed = i;
        if (failed >= 0) log = lines.Take();
    }
    if (failed >= 0)
        RaiseDecodeError(ref_->Path(),
                         "group '" + std::string(group_->GetName()) + "' channel " + std::to_string(id) + " (" +
                             ChannelName(ChannelKind::Particle, id) + ")",
                         log);
    return values;
}

int Group::FindId(long long id) const { return group_->FindParticleByID(id); }

std::string Group::Repr() const {
    return "<korloader.Group " + py::repr(Name()).cast<std::string>() + " " + std::to_string(Size()) + " particles>";
}

void AddGroup(py::module_& m) {
    py::class_<Group>(m, "Group",
                      "One particle group of a frame (Frame.groups, Frame.group()). It keeps the\n"
                      "frame alive. Positions are in the grid's cell coordinates.")
        .def_property_readonly("name", &Group::Name, "The group's name.")
        .def("__len__", &Group::Size, "The number of particles (0 when the group has no positions).")
        .def("channel_ids", &Group::ChannelIds, "The particle channel ids the group can give, ascending.")
        .def("channel_names", &Group::ChannelNames,
             "The names of channel_ids(): \"position\", \"velocity\", \"size\", \"age\", \"colour\", \"id\", ...\n"
             "(an id without a name appears as its number, e.g. \"12\").")
        .def("channel", &Group::Channel, py::arg("key"),
             "A particle channel by id or name, as a new array of shape (n, components):\n"
             "float32, int64 or uint32 by the channel's type code; a channel without a type\n"
             "gives its raw uint32 words, (n, channel size / 4). Velocity that the group\n"
             "takes from the grid comes sampled at each particle.\n"
             "KeyError when the group has no such channel; KorError when it does not decode.")
        .def("find_id", &Group::FindId, py::arg("pid"), "The index of the particle with this 64-bit ID, or -1.")
        .def("__repr__", &Group::Repr);
}

}  // namespace KorPython
