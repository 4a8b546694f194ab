// One Field3D file in either encoding, chosen by its content: "Ogawa" at the
// start selects the Ogawa reader, anything else is offered to HDF5.
#pragma once
#include <memory>
#include <vector>

#include "plugin_io/byte_source.h"
#include "f3d_hdf5.h"
#include "f3d_ogawa.h"
#include "f3d_types.h"

namespace F3d {

class Field3DFile {
public:
    Field3DFile() noexcept = default;
    Field3DFile(const Field3DFile&) = delete;
    Field3DFile& operator=(const Field3DFile&) = delete;

    // kOk, kCannotOpen, kNotField3D or kDamaged.
    Code Open(const char* path);
    bool IsOgawa() const noexcept { return ogawa_ != nullptr; }

    // Every layer (see OgawaField3D::ListLayers); `status` holds, per layer,
    // whether its description could be read (kOk) or why not.
    Code ListLayers(std::vector<Layer>& out, std::vector<Code>& status);
    Code ReadLayer(const Layer& layer, const DenseTarget& target);

private:
    PluginIo::FileSource source_;
    std::unique_ptr<OgawaField3D> ogawa_;
    std::unique_ptr<Hdf5Field3D> hdf5_;
};

}  // namespace F3d
