#include "vdb_layout.h"

#include <fstream>
#include <new>

#include "vdb_codes.h"

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

// Little-endian reads bounded by the file's size; every failure sticks.
class BoundedReader {
public:
    explicit BoundedReader(const char* path) : in_(path, std::ios::binary) {
        if (!in_.is_open()) return;
        in_.seekg(0, std::ios::end);
        size_ = in_.tellg();
        in_.seekg(0);
        ok_ = in_.good() && size_ >= 0;
    }
    bool Opened() const { return in_.is_open(); }
    bool Ok() const { return ok_; }
    int64_t Size() const { return size_; }
    int64_t Position() const { return pos_; }

    template <class T>
    T Scalar() {
        T value{};
        Bytes(reinterpret_cast<char*>(&value), sizeof(T));
        return ok_ ? value : T{};
    }
    void Bytes(char* out, int64_t n) {
        if (!Has(n)) return;
        in_.read(out, n);
        Advance(n);
    }
    void Skip(int64_t n) {
        if (!Has(n)) return;
        in_.seekg(n, std::ios::cur);
        Advance(n);
    }
    // A 32-bit length, then that many characters.
    std::string String() {
        const uint32_t length = Scalar<uint32_t>();
        std::string s;
        if (!Has(length)) return s;
        s.resize(length);
        Bytes(s.data(), length);
        return s;
    }
    void SeekTo(int64_t pos) {
        if (!ok_ || pos < 0 || pos > size_) {
            ok_ = false;
            return;
        }
        in_.seekg(pos);
        pos_ = pos;
        ok_ = in_.good();
    }

private:
    bool Has(int64_t n) {
        if (ok_ && (n < 0 || n > size_ - pos_)) ok_ = false;
        return ok_;
    }
    void Advance(int64_t n) {
        pos_ += n;
        if (!in_.good()) ok_ = false;
    }

    std::ifstream in_;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    bool ok_ = false;
};

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string t(suffix);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

int ReadLayout(const char* path, FileLayout& out) noexcept {
    try {
        BoundedReader r(path);
        if (!r.Opened()) return kNoFile;
        FileLayout layout;
        // Header: magic, file version, library version, grid-offsets flag,
        // (for a few versions) a compression byte, then the file's UUID.
        if (r.Scalar<int64_t>() != kMagic) return kDamaged;
        layout.fileVersion = r.Scalar<uint32_t>();
        if (layout.fileVersion >= kVersionLibraryVersion) r.Skip(8);
        if (layout.fileVersion >= kVersionGridOffsetsFlag) layout.hasGridOffsets = r.Scalar<char>() != 0;
        if (layout.fileVersion >= kVersionCompressionFlag && layout.fileVersion < kVersionPerGridCompression)
            r.Skip(1);
        r.Skip(layout.fileVersion >= kVersionUuidAsText ? 36 : 16);
        // File metadata: a count, then name, type, byte size and bytes each.
        const uint32_t entries = r.Scalar<uint32_t>();
        for (uint32_t i = 0; i < entries && r.Ok(); ++i) {
            r.String();
            r.String();
            r.Skip(r.Scalar<uint32_t>());
        }
        if (!r.Ok()) return kDamaged;
        if (!layout.hasGridOffsets) {
            out = std::move(layout);
            return kOk;
        }
        // Grid descriptors, each followed by its grid; positions are absolute.
        const int32_t count = r.Scalar<int32_t>();
        if (!r.Ok() || count < 0) return kDamaged;
        for (int32_t i = 0; i < count; ++i) {
            GridRecord g;
            g.uniqueName = r.String();
            g.name = g.uniqueName.substr(0, g.uniqueName.find(kUniqueSuffixSeparator));
            g.type = r.String();
            if (EndsWith(g.type, kHalfFloatSuffix)) {
                g.halfFloat = true;
                g.type.resize(g.type.size() - (sizeof(kHalfFloatSuffix) - 1));
            }
            if (layout.fileVersion >= kVersionGridInstancing) g.instance = !r.String().empty();
            g.gridPos = r.Scalar<int64_t>();
            g.blockPos = r.Scalar<int64_t>();
            g.endPos = r.Scalar<int64_t>();
            // OpenVDB reads a grid from gridPos on, so it must be where the
            // grid's data begins: right after its descriptor.
            if (!r.Ok() || g.gridPos != r.Position() || g.endPos < g.gridPos || g.endPos > r.Size()) return kDamaged;
            if (!g.instance && (g.blockPos < g.gridPos || g.blockPos > g.endPos)) return kDamaged;
            r.SeekTo(g.endPos);
            if (!r.Ok()) return kDamaged;
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
