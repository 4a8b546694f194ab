// Cache path templates, frame numbers and extensions.
#pragma once
#include "util/kor_string.h"

// The text after the last '.', ASCII letters lower-cased; "" without a '.'.
ZUtils::String GetExtension(const char* path) noexcept;
