// korloader.Frame: one open frame. Channels are read-only numpy views of the
// frame's own memory; each view, like each Group, holds its own reference
// to the frame (frame_ref.h).
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_ref.h"
#include "group.h"

namespace KorPython {

class Frame {
public:
    // kl.open(): raises FileNotFoundError or KorError.
    static Frame Open(pybind11::handle path, std::optional<pybind11::handle> mapping);

    pybind11::str Path() const { return PathText(path_); }
    pybind11::str Mapping() const;  // the mapping string it was opened with
    pybind11::tuple Dims() const;
    pybind11::tuple Shape() const;
    pybind11::array_t<float> Transform() const;
    std::vector<int> ChannelIds() const;
    std::vector<std::string> ChannelNames() const;
    pybind11::array Channel(pybind11::handle key) const;
    std::vector<Group> Groups() const;
    Group GroupByName(pybind11::handle name) const;
    void Close() { ref_.reset(); }
    bool Closed() const { return ref_ == nullptr; }
    std::string Repr() const;

private:
    explicit Frame(std::unique_ptr<FrameRef> ref);
    // The open frame; ValueError once closed.
    IKor* Live() const;
    std::unique_ptr<FrameRef> ref_;
    std::string path_;
    std::string mapping_;
    std::array<int, 3> dims_{};
    std::array<float, 12> transform_{};
};

void AddFrame(pybind11::module_& m);

}  // namespace KorPython
