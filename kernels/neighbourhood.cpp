// Filters that compute a pixel from its neighbours: recursive median, edge, dust removal.
#include "common/no_throw.h"
#include "quarnk.h"

#include "common/convert.h"
#include "stretch.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <vector>

using quarnk::elementCount;
using quarnk::truncToInt;

namespace {

template <typename T> inline void sort2(T& a, T& b) {
    const T lo = std::min(a, b);
    b = std::max(a, b);
    a = lo;
}

// For every x in [x0, x0 + len), the 4th and 5th smallest of the eight window values that are
// known before the median of (x, y) is chosen: the row above (already final), the pixel itself and
// its right neighbour, and the row below. Only the new left neighbour m is still missing, and the
// median is then max(k4, min(m, k5)): a short serial chain.
template <typename T>
inline __attribute__((always_inline)) void selectRange(const T* above, const T* cur, const T* below,
                                                       int32_t x0, int32_t len, T* k4, T* k5) {
    for (int32_t x = x0; x < x0 + len; ++x) {
        T a0 = above[x - 1], a1 = above[x], a2 = above[x + 1], a3 = cur[x];
        T b0 = cur[x + 1], b1 = below[x - 1], b2 = below[x], b3 = below[x + 1];
        sort2(a0, a1), sort2(a2, a3), sort2(a0, a2), sort2(a1, a3), sort2(a1, a2);
        sort2(b0, b1), sort2(b2, b3), sort2(b0, b2), sort2(b1, b3), sort2(b1, b2);
        // k-th smallest of two sorted runs: the least, over every split, of the larger of the two
        // elements that end the split.
        k4[x] = std::min(std::min(std::min(a3, b3), std::max(a0, b2)),
                         std::min(std::max(a1, b1), std::max(a2, b0)));
        k5[x] = std::min(std::min(std::max(a0, b3), std::max(a1, b2)),
                         std::min(std::max(a2, b1), std::max(a3, b0)));
    }
}

__attribute__((target_clones("avx2", "default"))) void selectRange16(const int16_t* above, const int16_t* cur,
                                                                     const int16_t* below, int32_t x0,
                                                                     int32_t len, int16_t* k4, int16_t* k5) {
    selectRange(above, cur, below, x0, len, k4, k5);
}

__attribute__((target_clones("avx2", "default"))) void selectRange32(const int32_t* above, const int32_t* cur,
                                                                     const int32_t* below, int32_t x0,
                                                                     int32_t len, int32_t* k4, int32_t* k5) {
    selectRange(above, cur, below, x0, len, k4, k5);
}

inline void selectRangeOf(const int16_t* a, const int16_t* c, const int16_t* b, int32_t x0, int32_t len,
                          int16_t* k4, int16_t* k5) {
    selectRange16(a, c, b, x0, len, k4, k5);
}
inline void selectRangeOf(const int32_t* a, const int32_t* c, const int32_t* b, int32_t x0, int32_t len,
                          int32_t* k4, int32_t* k5) {
    selectRange32(a, c, b, x0, len, k4, k5);
}

// Loads a row as whole numbers of type T, which they fit, truncating the buffer's row in place:
// every pixel lies in some window of the recursive median, which stores its values back
// truncated, so truncating up front changes nothing.
void loadRowOf(double* row, int32_t width, int32_t* out) {
    for (int32_t x = 0; x < width; ++x)
        row[x] = out[x] = truncToInt(row[x]);
}

void loadRowOf(double* row, int32_t width, int16_t* out) {
    int32_t x = 0;
#if defined(__SSE2__)
    // Values here fit 16 bits, so the processor's marker for "no integer" (INT32_MIN) can only come
    // from not-a-number, which truncates to 0.
    const __m128i none = _mm_set1_epi32(INT32_MIN);
    for (; x + 4 <= width; x += 4) {
        __m128i t = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(row + x)),
                                       _mm_cvttpd_epi32(_mm_loadu_pd(row + x + 2)));
        t = _mm_andnot_si128(_mm_cmpeq_epi32(t, none), t);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packs_epi32(t, t));
        _mm_storeu_pd(row + x, _mm_cvtepi32_pd(t));
        _mm_storeu_pd(row + x + 2, _mm_cvtepi32_pd(_mm_unpackhi_epi64(t, t)));
    }
#endif
    for (; x < width; ++x)
        row[x] = out[x] = static_cast<int16_t>(truncToInt(row[x]));
}

// N serial chains side by side, each over kBlock pixels: m = max(k4, min(m, k5)).
template <typename T, int N, int32_t kBlock>
void chains(const T* const* k4, const T* const* k5, T* const* out, T* carry) {
    T m[N];
    for (int j = 0; j < N; ++j)
        m[j] = carry[j];
    for (int32_t i = 0; i < kBlock; ++i)
        for (int j = 0; j < N; ++j)
            out[j][i] = m[j] = std::max(k4[j][i], std::min(m[j], k5[j][i]));
    for (int j = 0; j < N; ++j)
        carry[j] = m[j];
}

// The recursive median over a buffer whose truncated values all fit T.
//
// Rows are taken in bands of kBand. Within a band the rows advance together over blocks of kBlock
// columns, each row two blocks behind the one above it, which is how far behind it must be for the
// row above to be final over its whole window. The independent serial chains of the band's rows
// then run interleaved, so the processor overlaps them. Rows are padded to whole blocks; what the
// chains compute in the padding is never read back.
template <typename T> void medianRows(int32_t width, int32_t height, double* buf) {
    constexpr int kBand = 4;
    constexpr int32_t kBlock = 64;
    const size_t w = static_cast<size_t>(width);
    const int32_t inner = width - 2;
    const int32_t blocks = (inner + kBlock - 1) / kBlock;
    const size_t stride = static_cast<size_t>(blocks) * kBlock + 2;
    std::vector<T> rowStore((kBand + 2) * stride), k4Store(kBand * stride), k5Store(kBand * stride);
    T* rows[kBand + 2];
    for (int i = 0; i < kBand + 2; ++i)
        rows[i] = rowStore.data() + i * stride;
    loadRowOf(buf, width, rows[0]);

    for (int32_t y = 1; y < height - 1; y += kBand) {
        const int band = std::min<int32_t>(kBand, height - 1 - y);
        for (int j = 1; j <= band + 1; ++j)
            loadRowOf(buf + (y + j - 1) * w, width, rows[j]);
        T carry[kBand], border[kBand];
        for (int j = 0; j < band; ++j)
            carry[j] = rows[j + 1][0], border[j] = rows[j + 1][width - 1];

        for (int32_t step = 0; step < blocks + 2 * (band - 1); ++step) {
            const T* k4[kBand];
            const T* k5[kBand];
            T* out[kBand];
            T held[kBand];
            int active[kBand], count = 0;
            for (int j = 0; j < band; ++j) {
                const int32_t b = step - 2 * j;
                if (b < 0 || b >= blocks) continue;
                const int32_t x0 = 1 + b * kBlock;
                selectRangeOf(rows[j], rows[j + 1], rows[j + 2], x0, kBlock, k4Store.data() + j * stride,
                              k5Store.data() + j * stride);
                k4[count] = k4Store.data() + j * stride + x0;
                k5[count] = k5Store.data() + j * stride + x0;
                out[count] = rows[j + 1] + x0;
                held[count] = carry[j];
                active[count++] = j;
            }
            switch (count) {
            case 4:
                chains<T, 4, kBlock>(k4, k5, out, held);
                break;
            case 3:
                chains<T, 3, kBlock>(k4, k5, out, held);
                break;
            case 2:
                chains<T, 2, kBlock>(k4, k5, out, held);
                break;
            case 1:
                chains<T, 1, kBlock>(k4, k5, out, held);
                break;
            default:
                break;
            }
            for (int i = 0; i < count; ++i) {
                carry[active[i]] = held[i];
                // A last block runs over the right border into the padding: the border keeps its value.
                rows[active[i] + 1][width - 1] = border[active[i]];
            }
        }
        for (int j = 1; j <= band; ++j) {
            double* row = buf + (y + j - 1) * w;
            for (int32_t x = 1; x < width - 1; ++x)
                row[x] = rows[j][x];
        }
        std::swap(rows[0], rows[band]);
    }
}

} // namespace

extern "C" {

int32_t Medk(int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        if (width < 3 || height < 3) return 0;
        // Every pixel lies in some window, so every pixel ends truncated. Values that all fit 16 bits
        // (every grey image) take the narrow path; not-a-number at the start takes the wide one.
        double lo, hi;
        quarnk::minMax(elementCount(width, height), buf, lo, hi);
        if (lo > -32769.0 && hi < 32768.0)
            medianRows<int16_t>(width, height, buf);
        else
            medianRows<int32_t>(width, height, buf);
        return 0;
    });
}

int32_t Edgek(int32_t flag, int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        const int64_t count = elementCount(width, height);
        if (count == 0) return 0;
        for (int32_t y = 0; y < height - 1; ++y) {
            double* row = buf + static_cast<int64_t>(y) * width;
            const double* next = row + width;
            for (int32_t x = 0; x < width - 1; ++x) {
                // The neighbours below and to the right are still the input values when read.
                const int64_t d1 = truncToInt(next[x] - row[x]);
                const int64_t d2 = truncToInt(row[x + 1] - row[x]);
                int64_t v = std::llabs(d1) + std::llabs(d2);
                if (flag == 0 && v > 255) v = 255;
                row[x] = static_cast<double>(v);
            }
        }
        quarnk::fullRangeStretch(count, buf);
        return 0;
    });
}

int32_t Dmk(int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        if (width < 6 || height < 6) return 0;
        const int64_t w = width;
        auto at = [&](int64_t x, int64_t y) -> double& { return buf[y * w + x]; };
        for (int64_t i = 0; i <= height - 6; ++i) {
            for (int64_t j = 0; j <= width - 6; ++j) {
                if (at(j, i) + at(j + 1, i) + at(j + 2, i) + at(j + 3, i) + at(j + 4, i) != 1275.0) continue;
                bool sides = true;
                for (int64_t r = i + 1; r <= i + 3 && sides; ++r)
                    sides = at(j, r) + at(j + 4, r) == 510.0;
                if (!sides) continue;
                const int64_t b = i + 4;
                if (at(j, b) + at(j + 1, b) + at(j + 2, b) + at(j + 3, b) + at(j + 4, b) != 1275.0) continue;
                for (int64_t r = i + 1; r <= i + 3; ++r)
                    for (int64_t c = j + 1; c <= j + 3; ++c)
                        at(c, r) = 255.0;
            }
        }
        return 0;
    });
}

} // extern "C"
