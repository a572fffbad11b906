#pragma once

#include <opencv2/core/cvdef.h>

#include <cstddef>
#include <cstdint>

namespace XEVLibrary {
namespace detail {

/// Bytes per pixel of an OpenCV matrix type: channels times the size of the
/// depth, as the image library itself counts them. The one place the library
/// works this out, so that FIFO slots and camera transfers always agree.
inline std::size_t elementSize(int type) {
    return CV_ELEM_SIZE(type);
}

/// Bytes of @p rows rows of @p columns pixels of @p type, in @p bytes; false
/// when an argument is negative or the size does not fit 63 bits.
inline bool frameBytes(int64_t columns, int64_t rows, int type, int64_t& bytes) {
    if (columns < 0 || rows < 0 || type < 0)
        return false;
    int64_t pixels = 0;
    return !__builtin_mul_overflow(columns, rows, &pixels) &&
           !__builtin_mul_overflow(pixels, int64_t(elementSize(type)), &bytes);
}

} // namespace detail
} // namespace XEVLibrary
