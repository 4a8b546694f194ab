#include "channel_keys.h"

#include "errors.h"
#include "korloader/korloader.h"

namespace py = pybind11;

namespace KorPython {

std::string ChannelName(ChannelKind kind, int id) {
    const char* name = kind == ChannelKind::Grid ? korGridChannelName(id) : korParticleChannelName(id);
    return name[0] != '\0' ? name : std::to_string(id);
}

std::vector<std::string> NamesOf(ChannelKind kind, const std::vector<int>& ids) {
    std::vector<std::string> names;
    for (int id : ids) names.push_back(ChannelName(kind, id));
    return names;
}

int ChannelId(ChannelKind kind, py::handle key) {
    static_assert(KOR_GRID_CHANNEL_COUNT == 32 && KOR_PARTICLE_CHANNEL_COUNT == 32, "ids 0..31 in both tables");
    if (PyLong_Check(key.ptr())) {
        int overflow = 0;
        const long long id = PyLong_AsLongLongAndOverflow(key.ptr(), &overflow);
        if (overflow == 0 && id >= 0 && id < KOR_GRID_CHANNEL_COUNT) return static_cast<int>(id);
        RaiseKeyError(key);
    }
    if (PyUnicode_Check(key.ptr())) {
        const std::string name = key.cast<std::string>();
        for (int id = 0; id < KOR_GRID_CHANNEL_COUNT; ++id)
            if (ChannelName(kind, id) == name) return id;
        RaiseKeyError(key);
    }
    throw py::type_error("a channel key is an int id or a str name, not " + std::string(Py_TYPE(key.ptr())->tp_name));
}

}  // namespace KorPython
