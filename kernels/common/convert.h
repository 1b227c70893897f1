// Conversions between the reals of a pixel buffer and the integers and bytes of the files.
// Shared by both libraries; nothing here is exported.
#pragma once

#include <cstdint>

namespace quarn {

// Truncates toward zero to a 32-bit integer. A value that has no such integer (not a number,
// an infinity, or beyond the 32-bit range) becomes 0, so no conversion is ever undefined.
inline int32_t truncToInt(double v) {
    if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int32_t>(v);
    return 0;
}

// The stored byte of a real: truncated toward zero, low 8 bits kept (256.0 -> 0, -1.0 -> 255).
inline uint8_t toByte(double v) {
    return static_cast<uint8_t>(static_cast<uint32_t>(truncToInt(v)) & 0xFFu);
}

// Number of elements of a width x height image; 0 when either side is not positive.
inline int64_t elementCount(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<int64_t>(width) * height;
}

} // namespace quarn
