// Filters that compute a pixel from its neighbours: recursive median, edge, dust removal.
#include "quarnk.h"

#include "common/convert.h"
#include "stretch.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

using quarn::elementCount;
using quarn::truncToInt;

namespace {

template <typename T> inline void sort2(T& a, T& b) {
    const T lo = std::min(a, b);
    b = std::max(a, b);
    a = lo;
}

// For every x in 1 .. width-2, the 4th and 5th smallest of the eight window values that are known
// before the median of (x, y) is chosen: the row above (already final), the pixel itself and its
// right neighbour, and the row below. Only the new left neighbour is still missing; the median is
// then max(k4, min(left, k5)), a short serial chain.
template <typename T>
inline __attribute__((always_inline)) void selectRow(int32_t width, const T* above, const T* cur,
                                                     const T* below, T* k4, T* k5) {
    for (int32_t x = 1; x < width - 1; ++x) {
        T a0 = above[x - 1], a1 = above[x], a2 = above[x + 1], a3 = cur[x];
        T b0 = cur[x + 1], b1 = below[x - 1], b2 = below[x], b3 = below[x + 1];
        sort2(a0, a1), sort2(a2, a3), sort2(a0, a2), sort2(a1, a3), sort2(a1, a2);
        sort2(b0, b1), sort2(b2, b3), sort2(b0, b2), sort2(b1, b3), sort2(b1, b2);
        // k-th smallest of two sorted runs: the least, over every split, of the larger of the two
        // elements that end the split.
        k4[x] = std::min(std::min(std::min(a3, b3), std::max(a0, b2)), std::min(std::max(a1, b1), std::max(a2, b0)));
        k5[x] = std::min(std::min(std::max(a0, b3), std::max(a1, b2)), std::min(std::max(a2, b1), std::max(a3, b0)));
    }
}

__attribute__((target_clones("avx2", "default"))) void selectRow16(int32_t width, const int16_t* above,
                                                                    const int16_t* cur, const int16_t* below,
                                                                    int16_t* k4, int16_t* k5) {
    selectRow(width, above, cur, below, k4, k5);
}

__attribute__((target_clones("avx2", "default"))) void selectRow32(int32_t width, const int32_t* above,
                                                                    const int32_t* cur, const int32_t* below,
                                                                    int32_t* k4, int32_t* k5) {
    selectRow(width, above, cur, below, k4, k5);
}

inline void selectRowOf(int32_t w, const int16_t* a, const int16_t* c, const int16_t* b, int16_t* k4, int16_t* k5) {
    selectRow16(w, a, c, b, k4, k5);
}
inline void selectRowOf(int32_t w, const int32_t* a, const int32_t* c, const int32_t* b, int32_t* k4, int32_t* k5) {
    selectRow32(w, a, c, b, k4, k5);
}

template <typename T> void loadRow(const double* src, int32_t width, T* dst) {
    for (int32_t x = 0; x < width; ++x) dst[x] = static_cast<T>(src[x]);
}

// The buffer already holds whole numbers that fit T.
template <typename T> void medianRows(int32_t width, int32_t height, double* buf) {
    const size_t w = static_cast<size_t>(width);
    std::vector<T> scratch(5 * w);
    T* above = scratch.data();
    T* cur = above + w;
    T* below = cur + w;
    T* k4 = below + w;
    T* k5 = k4 + w;
    loadRow(buf, width, above);
    loadRow(buf + w, width, cur);
    for (int32_t y = 1; y < height - 1; ++y) {
        double* row = buf + static_cast<size_t>(y) * w;
        loadRow(row + w, width, below);
        selectRowOf(width, above, cur, below, k4, k5);
        T m = cur[0];
        for (int32_t x = 1; x < width - 1; ++x) {
            m = std::max(k4[x], std::min(m, k5[x]));
            cur[x] = m;
        }
        for (int32_t x = 1; x < width - 1; ++x) row[x] = cur[x];
        std::swap(above, cur);
        std::swap(cur, below);
    }
}

} // namespace

extern "C" {

int32_t Medk(int32_t width, int32_t height, double* buf) {
    if (width < 3 || height < 3) return 0;
    const int64_t count = elementCount(width, height);
    // Every pixel lies in some window, and every window stores its values back truncated, so the
    // whole image can be truncated first.
    bool small = true;
    for (int64_t i = 0; i < count; ++i) {
        const int32_t v = truncToInt(buf[i]);
        small &= v >= -32768 && v <= 32767;
        buf[i] = v;
    }
    if (small)
        medianRows<int16_t>(width, height, buf);
    else
        medianRows<int32_t>(width, height, buf);
    return 0;
}

int32_t Edgek(int32_t flag, int32_t width, int32_t height, double* buf) {
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
    quarn::fullRangeStretch(count, buf);
    return 0;
}

int32_t Dmk(int32_t width, int32_t height, double* buf) {
    if (width < 6 || height < 6) return 0;
    const int64_t w = width;
    auto at = [&](int64_t x, int64_t y) -> double& { return buf[y * w + x]; };
    for (int64_t i = 0; i <= height - 6; ++i) {
        for (int64_t j = 0; j <= width - 6; ++j) {
            if (at(j, i) + at(j + 1, i) + at(j + 2, i) + at(j + 3, i) + at(j + 4, i) != 1275.0) continue;
            bool sides = true;
            for (int64_t r = i + 1; r <= i + 3 && sides; ++r) sides = at(j, r) + at(j + 4, r) == 510.0;
            if (!sides) continue;
            const int64_t b = i + 4;
            if (at(j, b) + at(j + 1, b) + at(j + 2, b) + at(j + 3, b) + at(j + 4, b) != 1275.0) continue;
            for (int64_t r = i + 1; r <= i + 3; ++r)
                for (int64_t c = j + 1; c <= j + 3; ++c) at(c, r) = 255.0;
        }
    }
    return 0;
}

} // extern "C"
