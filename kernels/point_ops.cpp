// Grey-level point operations: each pixel changes by a rule that looks at that pixel alone.
#include "quarnk.h"

#include "common/convert.h"
#include "stretch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using quarn::elementCount;
using quarn::truncToInt;

namespace {} // namespace

namespace quarn {

void minMax(int64_t count, const double* buf, double& lo, double& hi) {
    lo = hi = buf[0];
    int64_t i = 0;
#if defined(__SSE2__)
    __m128d lo0 = _mm_set1_pd(lo), lo1 = lo0, hi0 = lo0, hi1 = lo0;
    for (; i + 4 <= count; i += 4) {
        const __m128d a = _mm_loadu_pd(buf + i), b = _mm_loadu_pd(buf + i + 2);
        lo0 = _mm_min_pd(a, lo0), lo1 = _mm_min_pd(b, lo1);
        hi0 = _mm_max_pd(a, hi0), hi1 = _mm_max_pd(b, hi1);
    }
    double lanes[8];
    _mm_storeu_pd(lanes, lo0), _mm_storeu_pd(lanes + 2, lo1), _mm_storeu_pd(lanes + 4, hi0),
        _mm_storeu_pd(lanes + 6, hi1);
    for (int k = 0; k < 4; ++k) {
        if (lo > lanes[k]) lo = lanes[k];
        if (hi < lanes[4 + k]) hi = lanes[4 + k];
    }
#endif
    for (; i < count; ++i) {
        const double v = buf[i];
        if (lo > v) lo = v;
        if (hi < v) hi = v;
    }
}

} // namespace quarn

namespace {

// One correctly rounded division per element: wider vectors give the same bits.
__attribute__((target_clones("avx512f", "avx2", "default"))) void mapRange(int64_t count, double* buf,
                                                                           double lo, double range) {
    for (int64_t i = 0; i < count; ++i)
        buf[i] = (buf[i] - lo) * 255.0 / range;
}

} // namespace

namespace quarn {

void fullRangeStretch(int64_t count, double* buf) {
    if (count <= 0) return;
    double lo, hi;
    quarn::minMax(count, buf, lo, hi);
    if (!(hi > lo)) return;
    mapRange(count, buf, lo, hi - lo);
}

} // namespace quarn

extern "C" {

int32_t Rofk(int32_t width, int32_t height, double* buf) {
    quarn::fullRangeStretch(elementCount(width, height), buf);
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
    quarn::fullRangeStretch(count, a);
    return 0;
}

} // extern "C"
