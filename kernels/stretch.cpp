// The full-range stretch shared by the point operations and the edge filter.
#include "stretch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarnk {

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

} // namespace quarnk

namespace {

// One correctly rounded division per element: wider vectors give the same bits.
__attribute__((target_clones("avx512f", "avx2", "default"))) void mapRange(int64_t count, double* buf,
                                                                           double lo, double range) {
    for (int64_t i = 0; i < count; ++i)
        buf[i] = (buf[i] - lo) * 255.0 / range;
}

} // namespace

namespace quarnk {

void fullRangeStretch(int64_t count, double* buf) {
    if (count <= 0) return;
    double lo, hi;
    minMax(count, buf, lo, hi);
    if (!(hi > lo)) return;
    mapRange(count, buf, lo, hi - lo);
}

} // namespace quarnk
