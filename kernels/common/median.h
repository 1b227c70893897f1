// The recursive 3 x 3 median over a buffer, in place: the border is kept (truncated, for reals),
// and each inner pixel, in row order, becomes the median of its window as it stands then.
#pragma once

#include <cstdint>

namespace quarnk {

// Reals: every value ends truncated toward zero. `narrow` says that every truncated value fits
// 16 bits, which takes the faster path. Sides under 3 are left to the caller.
void recursiveMedian(int32_t width, int32_t height, double* buf, bool narrow);
// Single-precision reals, truncated as the reals are (the medians then stored back as floats).
void recursiveMedian(int32_t width, int32_t height, float* buf);
// Bytes: the same medians, for a buffer whose values are whole bytes to begin with.
void recursiveMedian(int32_t width, int32_t height, uint8_t* buf);

} // namespace quarnk
