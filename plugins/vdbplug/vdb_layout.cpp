#include "vdb_layout.h"

#include <new>

#include "vdb_codes.h"
#include "vdb_cursor.h"
#include "vdb_walk.h"

namespace VdbPlug {
namespace {

constexpr int64_t kMagic = 0x56444220;  // "VDB " as a little-endian 64-bit integer
// File versions that changed the outer layout.
constexpr uint32_t kVersionLibraryVersion = 211;
constexpr uint32_t kVersionGridOffsetsFlag = 212;
constexpr uint32_t kVersionGridInstancing = 216;
constexpr uint32_t kVersionUuidAsText = 218;
constexpr uint32_t kVersionCompressionFlag = 220;   // one byte, from here ...
constexpr uint32_t kVersionPerGridCompression = 222;  // ... up to here
constexpr char kUniqueSuffixSeparator = '\x1e';
const char kHalfFloatSuffix[] = "_HalfFloat";

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string t(suffix);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// A grid descriptor: stored name, type and instance parent, then the grid's
// three positions.
GridRecord ReadDescriptor(Cursor& r, uint32_t fileVersion) {
    GridRecord g;
    g.uniqueName = r.String();
    g.name = g.uniqueName.substr(0, g.uniqueName.find(kUniqueSuffixSeparator));
    g.type = r.String();
    if (EndsWith(g.type, kHalfFloatSuffix)) {
        g.halfFloat = true;
        g.type.resize(g.type.size() - (sizeof(kHalfFloatSuffix) - 1));
    }
    if (fileVersion >= kVersionGridInstancing) {
        g.parent = r.String();
        g.instance = !g.parent.empty();
    }
    g.gridPos = static_cast<int64_t>(r.Get<uint64_t>());
    g.blockPos = static_cast<int64_t>(r.Get<uint64_t>());
    g.endPos = static_cast<int64_t>(r.Get<uint64_t>());
    return g;
}

// "name\x1eN" as OpenVDB spells it for people: "name[N]".
std::string NameAsString(const std::string& unique) {
    const size_t sep = unique.find(kUniqueSuffixSeparator);
    if (sep == std::string::npos) return unique;
    return unique.substr(0, sep) + "[" + unique.substr(sep + 1) + "]";
}

// "name[N]" as stored: "name\x1eN".
std::string StringAsUniqueName(const std::string& s) {
    std::string u = s;
    if (!u.empty() && u.back() == ']') {
        const size_t open = u.find('[');
        if (open != std::string::npos) {
            u.pop_back();
            u[open] = kUniqueSuffixSeparator;
        }
    }
    return u;
}

}  // namespace

int ReadLayout(PluginIo::ByteSource& source, FileLayout& out) noexcept {
    try {
        Cursor r(source, 0, source.Size());
        FileLayout layout;
        // Header: magic, file version, library version, grid-offsets flag,
        // (for a few versions) a compression byte, then the file's UUID.
        if (r.Get<int64_t>() != kMagic) return kDamaged;
        layout.fileVersion = r.Get<uint32_t>();
        if (layout.fileVersion >= kVersionLibraryVersion) r.Skip(8);
        if (layout.fileVersion >= kVersionGridOffsetsFlag) layout.hasGridOffsets = r.Get<char>() != 0;
        if (layout.fileVersion >= kVersionCompressionFlag && layout.fileVersion < kVersionPerGridCompression)
            r.Skip(1);
        r.Skip(layout.fileVersion >= kVersionUuidAsText ? 36 : 16);
        if (!WalkMetadata(r)) return kDamaged;
        // Grid descriptors; positions are absolute.
        const int32_t count = r.Get<int32_t>();
        if (!r.Ok() || count < 0) return kDamaged;
        for (int32_t i = 0; i < count; ++i) {
            GridRecord g = ReadDescriptor(r, layout.fileVersion);
            if (!r.Ok()) return kDamaged;
            if (!layout.hasGridOffsets) {
                // The grid follows its descriptor, and OpenVDB reads it at once.
                ValueLayout value;
                if (!ImportedValueLayout(g.type, value)) return kDamaged;
                g.gridPos = g.blockPos = static_cast<int64_t>(r.Position());
                if (!WalkGrid(r, layout.fileVersion, value, g.halfFloat, g.instance)) return kDamaged;
                g.endPos = static_cast<int64_t>(r.Position());
                layout.grids.push_back(std::move(g));
                continue;
            }
            // OpenVDB reads a grid from gridPos on, so it must be where the
            // grid's data begins: right after its descriptor.
            if (g.gridPos != static_cast<int64_t>(r.Position()) || g.endPos < g.gridPos ||
                static_cast<uint64_t>(g.endPos) > source.Size())
                return kDamaged;
            if (!g.instance && (g.blockPos < g.gridPos || g.blockPos > g.endPos)) return kDamaged;
            if (!r.SkipTo(static_cast<uint64_t>(g.endPos))) return kDamaged;
            layout.grids.push_back(std::move(g));
        }
        out = std::move(layout);
        return kOk;
    } catch (const std::bad_alloc&) {
        return kDamaged;
    } catch (...) {
        return kInternal;
    }
}

int ReadLayout(const char* path, FileLayout& out) noexcept {
    PluginIo::MappedFileSource source;
    if (!source.Open(path)) return kNoFile;
    return ReadLayout(source, out);
}

const GridRecord* FindGrid(const FileLayout& layout, const std::string& name) {
    const std::string unique = StringAsUniqueName(name);
    std::string key = name;
    bool any = false;
    for (const GridRecord& g : layout.grids) any = any || g.name == key;
    if (!any) key = unique.substr(0, unique.find(kUniqueSuffixSeparator));
    for (const GridRecord& g : layout.grids) {
        if (g.name != key) continue;
        // A plain name picks the first grid of that name; "name[N]" the one
        // stored under that unique name.
        if (name == unique || g.uniqueName == unique || g.uniqueName == name) return &g;
    }
    return nullptr;
}

int CheckGrid(PluginIo::ByteSource& source, const FileLayout& layout, const GridRecord& grid) noexcept {
    try {
        ValueLayout value;
        if (!ImportedValueLayout(grid.type, value)) return kNoGrid;
        if (!layout.hasGridOffsets) return kOk;  // walked by ReadLayout
        const GridRecord* tree = &grid;
        if (grid.instance) {
            tree = FindGrid(layout, NameAsString(grid.parent));
            if (tree == nullptr || tree->type != grid.type) return kDamaged;
        }
        for (const GridRecord* g : {&grid, tree}) {
            Cursor c(source, static_cast<uint64_t>(g->gridPos), static_cast<uint64_t>(g->endPos));
            if (!WalkGrid(c, layout.fileVersion, value, g->halfFloat, g->instance)) return kDamaged;
            if (g == tree) break;
        }
        return kOk;
    } catch (...) {
        return kInternal;
    }
}

std::string ValueTypeOf(const std::string& gridType) {
    const std::string prefix = "Tree_";
    if (gridType.compare(0, prefix.size(), prefix) != 0) return std::string();
    const size_t end = gridType.find('_', prefix.size());
    return gridType.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
}

bool IsScalarValueType(const std::string& valueType) {
    return valueType == "float" || valueType == "double" || valueType == "half" || valueType == "int32" ||
           valueType == "int64";
}

}  // namespace VdbPlug
