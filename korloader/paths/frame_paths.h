// Cache path templates, frame numbers and extensions.
//
// A path template names a sequence of frame files through a placeholder in
// its file name:
//   a run of n '#'            width n, zero padded, signed
//   %[0][digits]d|D|i|I       width digits, '0' pads with zeros else blanks, signed
//   %[0][digits]u|U           the same, unsigned
//   <frame[0][digits]>        like %d
// Widths above 12 count as 12. "%%" is plain text. Both '/' and '\' separate
// directories. Strings are narrow (UTF-8) and read only up to their NUL.
#pragma once
#include <cstdint>

#include "util/kor_string.h"

namespace KorPaths {
// The "no frame" value: what ParseFrameNumber returns when a name holds no
// number, and the frame that makes ReplaceFramePattern write its fallback.
constexpr int32_t kNoFrame = 2147483647;
constexpr int kMaxWidth = 12;
// Fallback texts are cut to this many characters.
constexpr int kMaxFallback = 15;
}  // namespace KorPaths

// 1 if `path` holds a placeholder anywhere (directories included), else 0.
int HasFramePattern(const char* path) noexcept;

// `path` with every placeholder of its file-name part replaced by `frame`
// formatted to the placeholder's width, or by `fallback` (cut to 15
// characters; null means "") when `frame` is kNoFrame. The directory part is
// kept as it is. A null path gives "". When memory runs out the text is cut
// short and `*complete` (if given) is set to false.
ZUtils::String ReplaceFramePattern(const char* path, int frame, const char* fallback,
                                   bool* complete = nullptr) noexcept;

// The last run of digits before the extension (with a '-' just before it),
// or kNoFrame when the name has none or it does not fit in 32 bits.
int ParseFrameNumber(const char* fileName) noexcept;

// True when `file` (a full path) is a frame of the sequence that the
// template `path` names: the template with the file's own frame number
// (ParseFrameNumber) reproduces the file's path exactly, so badly padded
// names are passed over, and a file without a number is never a frame of a
// sequence whose file names carry one. `*frame` (when not null) receives the
// number. When memory runs out the answer is false and `*complete` (if given)
// is set to false.
bool IsSequenceFrame(const char* path, const char* file, int* frame, bool* complete = nullptr) noexcept;

// The text after the last '.', ASCII letters lower-cased; "" without a '.'.
ZUtils::String GetExtension(const char* path) noexcept;
// Whether GetExtension(path) equals `lowerCase`, without allocating.
bool HasExtension(const char* path, const char* lowerCase) noexcept;
