// The intensity histogram of a pixel buffer: how many pixels truncate to each level 0..255, and
// the peak or mean level that becomes the binarization threshold. One piece of code for the
// histogram export and the in-memory batch engine.
#pragma once

#include <cstdint>

namespace quarnk {

constexpr int kLevels = 256;

// counts[level] += the pixels whose value truncates to level, 0..255; other values are not counted.
void countLevels(const double* buf, int64_t n, int64_t* counts);
// The same for bytes, each its own level.
void countLevels(const uint8_t* buf, int64_t n, int64_t* counts);

// Binarization of bytes: 255 where a byte is above the threshold (any integer), else 0.
void binarize(uint8_t* buf, int64_t n, int32_t threshold);

// Mode 0: the first most frequent level; mode 1: the mean level of the n pixels, truncated (0 for
// none). Any other mode leaves result as it is.
void thresholdOf(int32_t mode, const int64_t* counts, int64_t n, int32_t* result);

} // namespace quarnk
