// korloader.Group: one particle group of a frame. Its channels are copies,
// filled in one call, since the interface hands out one particle at a time.
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <vector>

#include "frame_ref.h"
#include "py_text.h"

class IOstrelPrtGroup;

namespace KorPython {

class Group {
public:
    // `group` belongs to the frame that `ref` keeps alive.
    Group(std::unique_ptr<FrameRef> ref, IOstrelPrtGroup* group) noexcept;

    pybind11::str Name() const;
    int Size() const;
    std::vector<int> ChannelIds() const;
    std::vector<std::string> ChannelNames() const;
    pybind11::array Channel(pybind11::handle key) const;
    int FindId(long long id) const;
    std::string Repr() const;

private:
    std::unique_ptr<FrameRef> ref_;
    IOstrelPrtGroup* group_;
};

void AddGroup(pybind11::module_& m);

}  // namespace KorPython
