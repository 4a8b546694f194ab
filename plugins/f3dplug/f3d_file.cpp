#include "f3d_file.h"

#include <cstring>

namespace F3d {

Code Field3DFile::Open(const char* path) {
    if (!source_.Open(path)) return kCannotOpen;
    uint8_t head[5] = {};
    if (source_.ReadAt(0, head, sizeof head) && std::memcmp(head, "Ogawa", 5) == 0) {
        ogawa_ = std::make_unique<OgawaField3D>(source_);
        return ogawa_->Open();
    }
    hdf5_ = std::make_unique<Hdf5Field3D>();
    return hdf5_->Open(path);
}

Code Field3DFile::ListLayers(std::vector<Layer>& out, std::vector<Code>& status) {
    if (ogawa_) return ogawa_->ListLayers(out, status);
    if (hdf5_) return hdf5_->ListLayers(out, status);
    return kCannotOpen;
}

Code Field3DFile::ReadLayer(const Layer& layer, const DenseTarget& target) {
    if (ogawa_) return ogawa_->ReadLayer(layer, target);
    if (hdf5_) return hdf5_->ReadLayer(layer, target);
    return kCannotOpen;
}

}  // namespace F3d
