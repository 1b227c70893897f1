// Grey-level point operations: each pixel changes by a rule that looks at that pixel alone.
#include "quarnk.h"

#include "common/convert.h"
#include "stretch.h"

using quarnk::elementCount;
using quarnk::truncToInt;

extern "C" {

int32_t Rofk(int32_t width, int32_t height, double* buf) {
    quarnk::fullRangeStretch(elementCount(width, height), buf);
    return 0;
}

int32_t Conk(int32_t low, int32_t high, int32_t width, int32_t height, double* buf) {
    const int64_t count = elementCount(width, height);
    const double lo = low;
    if (high == low) {
        // No window to map: the clamps of the general rule make this a threshold at low.
        for (int64_t i = 0; i < count; ++i)
            buf[i] = buf[i] > lo ? 255.0 : 0.0;
        return 0;
    }
    const double d = static_cast<double>(static_cast<int64_t>(high) - low);
    for (int64_t i = 0; i < count; ++i) {
        double v = (buf[i] - lo) * 255.0 / d;
        if (v > 255.0) v = 255.0;
        if (!(v >= 0.0)) v = 0.0;
        buf[i] = v;
    }
    return 0;
}

int32_t Segmk(int32_t threshold, int32_t width, int32_t height, double* buf) {
    const int64_t count = elementCount(width, height);
    const double t = threshold;
    for (int64_t i = 0; i < count; ++i)
        buf[i] = buf[i] > t ? 255.0 : 0.0;
    return 0;
}

int32_t Rdk(int32_t width, int32_t height, double* buf) {
    const int64_t count = elementCount(width, height);
    for (int64_t i = 0; i < count; ++i)
        buf[i] = truncToInt(127.5 - buf[i] + 127.5);
    return 0;
}

int32_t Dpk(int32_t width, int32_t height, double* a, const double* b) {
    const int64_t count = elementCount(width, height);
    for (int64_t i = 0; i < count; ++i)
        a[i] = a[i] - b[i];
    quarnk::fullRangeStretch(count, a);
    return 0;
}

} // extern "C"
