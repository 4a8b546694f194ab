// Field3D files in the Ogawa encoding.
//
// Field3D builds its own hierarchy on Ogawa groups: every Field3D object is
// an Ogawa group whose child 0 is its name (bytes, no terminator) and child 1
// its kind (int32: 0 group, 1 attribute, 2 dataset, 3 compressed dataset).
// An attribute adds its value type (int32) and its value; a dataset adds its
// element type and then one data child per element (a dense layer stores one
// element, a sparse layer one per allocated block, each zlib-compressed in a
// compressed dataset). The root group is named "f3droot"; its groups are the
// partitions ("<name>.<n>"), each holding a "mapping" group and one group per
// layer.
#pragma once
#include <memory>
#include <vector>

#include "plugin_io/byte_source.h"
#include "f3d_types.h"
#include "ogawa_reader.h"

namespace F3d {

class OgawaField3D {
public:
    explicit OgawaField3D(PluginIo::ByteSource& source) noexcept : archive_(source) {}

    // kOk, kNotField3D (not an Ogawa file or no "f3droot") or kDamaged.
    Code Open() noexcept;
    // Every layer of every partition, partitions and layers each in byte
    // order of their names. A layer whose description cannot be read is
    // still listed (with the result in `status`).
    Code ListLayers(std::vector<Layer>& out, std::vector<Code>& status);
    // Reads a listed layer into `target` (data window order, x fastest).
    Code ReadLayer(const Layer& layer, const DenseTarget& target);

    struct Entry;  // one Field3D object inside a group (defined in the .cpp)

private:
    Code ReadEntries(uint64_t group, std::vector<Entry>& out);
    Code Describe(const std::vector<Entry>& entries, Layer& layer);
    Code ReadMapping(const std::vector<Entry>& partition, Mapping& mapping);
    Code ReadDense(const Layer& layer, const std::vector<Entry>& entries, const DenseTarget& target);
    Code ReadSparse(const Layer& layer, const std::vector<Entry>& entries, const DenseTarget& target);

    Ogawa::Archive archive_;
};

}  // namespace F3d
