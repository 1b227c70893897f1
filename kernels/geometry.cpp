// Axis flip and composite: whole-image kernels that move or mask pixels.
#include "quarnk.h"

#include "common/convert.h"

#include <algorithm>

using quarnk::elementCount;

extern "C" {

int32_t Turnk(int32_t mode, int32_t width, int32_t height, double* buf, double* scratch) {
    if (mode != 0 && mode != 1) return -1;
    const int64_t count = elementCount(width, height);
    if (count == 0) return 0;
    const int64_t w = width;
    for (int64_t y = 0; y < height; ++y) {
        const double* src = buf + y * w;
        if (mode == 0)
            std::reverse_copy(src, src + w, scratch + y * w);
        else
            std::copy(src, src + w, scratch + (height - 1 - y) * w);
    }
    std::copy(scratch, scratch + count, buf);
    return 0;
}

int32_t Compok(int32_t width, int32_t height, double* a, const double* b) {
    const int64_t count = elementCount(width, height);
    for (int64_t i = 0; i < count; ++i)
        if (b[i] == 0.0) a[i] = 0.0;
    return 0;
}

} // extern "C"
