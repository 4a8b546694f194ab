#include "png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/utf8_path.h"

#if KOR_HAVE_PNG
#include <png.h>
#endif

namespace KorInfo {

#if KOR_HAVE_PNG

bool PngAvailable() { return true; }

bool WritePng(const std::string& path, const Picture& picture, std::string& reason) {
    const std::filesystem::path target = KorTools::Utf8Path(path);
    std::filesystem::path partial = target;
    partial += ".part";
    std::FILE* file = std::fopen(partial.string().c_str(), "wb");
    if (file == nullptr) {
        reason = std::string("cannot write ") + path + ": " + std::strerror(errno);
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    const bool encoded = png_image_write_to_stdio(&image, file, 0, picture.rgb.data(), 0, nullptr) != 0;
    const std::string encodeError = encoded ? "" : image.message;
    png_image_free(&image);
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (encoded && flushed && closed) std::filesystem::rename(partial, target, error);
    if (!encoded || !flushed || !closed || error) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        if (!encoded)
            reason = "cannot encode " + path + ": " + encodeError;
        else if (!flushed || !closed)
            reason = std::string("cannot write ") + path + ": " + std::strerror(writeErrno);
        else
            reason = "cannot write " + path + ": " + error.message();
        return false;
    }
    return true;
}

#else

bool PngAvailable() { return false; }

bool WritePng(const std::string& path, const Picture&, std::string& reason) {
    reason = "cannot write " + path + ": this korinfo was built without libpng";
    return false;
}

#endif

}  // namespace KorInfo
