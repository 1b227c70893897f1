// The recursive 3 x 3 median: each pixel becomes the median of its window, in which the pixels
// above and to the left already hold their filtered values. Shared by the kernel (reals) and the
// batch engine (bytes); nothing here is exported.
#include "median.h"

#include "convert.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

namespace quarnk {

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

__attribute__((target_clones("avx2", "default"))) void selectRange8(const uint8_t* above, const uint8_t* cur,
                                                                    const uint8_t* below, int32_t x0,
                                                                    int32_t len, uint8_t* k4, uint8_t* k5) {
    selectRange(above, cur, below, x0, len, k4, k5);
}

inline void selectRangeOf(const uint8_t* a, const uint8_t* c, const uint8_t* b, int32_t x0, int32_t len,
                          uint8_t* k4, uint8_t* k5) {
    selectRange8(a, c, b, x0, len, k4, k5);
}
inline void selectRangeOf(const int16_t* a, const int16_t* c, const int16_t* b, int32_t x0, int32_t len,
                          int16_t* k4, int16_t* k5) {
    selectRange16(a, c, b, x0, len, k4, k5);
}
inline void selectRangeOf(const int32_t* a, const int32_t* c, const int32_t* b, int32_t x0, int32_t len,
                          int32_t* k4, int32_t* k5) {
    selectRange32(a, c, b, x0, len, k4, k5);
}

// A band's filtered row back into the buffer, its border columns left as they are.
template <typename T, typename B> void storeRow(const T* filtered, int32_t width, B* row) {
    for (int32_t x = 1; x < width - 1; ++x)
        row[x] = static_cast<B>(filtered[x]);
}

// Loads a row as whole numbers of type T, which they fit, truncating the buffer's row in place:
// every pixel lies in some window of the recursive median, which stores its values back
// truncated, so truncating up front changes nothing.
void loadRowOf(float* row, int32_t width, int32_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        out[x] = truncToInt(row[x]);
        row[x] = static_cast<float>(out[x]);
    }
}

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

// The chain m = clamp(m, k4, k5) along a row of bytes or 16-bit numbers. A clamp followed by a
// clamp is a clamp, so the chain is a prefix scan: each lane's clamp is composed with those of the
// lanes before it in log2(lanes) doubling steps, and the vector's carried value then needs one
// clamp. Lanes beyond n hold the clamp to the type's whole range, which changes nothing; only n
// values are stored.
#if defined(__SSE2__)
template <typename T> struct Vec;
template <> struct Vec<uint8_t> {
    static __m128i min(__m128i a, __m128i b) { return _mm_min_epu8(a, b); }
    static __m128i max(__m128i a, __m128i b) { return _mm_max_epu8(a, b); }
    static __m128i all(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static __m128i lastEverywhere(__m128i m) {
        m = _mm_unpackhi_epi8(m, m);
        m = _mm_shufflehi_epi16(m, 0xFF);
        return _mm_shuffle_epi32(m, 0xFF);
    }
};
template <> struct Vec<int16_t> {
    static __m128i min(__m128i a, __m128i b) { return _mm_min_epi16(a, b); }
    static __m128i max(__m128i a, __m128i b) { return _mm_max_epi16(a, b); }
    static __m128i all(int16_t v) { return _mm_set1_epi16(v); }
    static __m128i lastEverywhere(__m128i m) { return _mm_shuffle_epi32(_mm_shufflehi_epi16(m, 0xFF), 0xFF); }
};

// Composes each lane's clamp (after) with that of the lane B bytes below it (before); the lanes
// shifted in at the bottom are the clamp to the whole range.
template <typename T, int B> inline void composeClamps(__m128i& lo, __m128i& hi) {
    using V = Vec<T>;
    const __m128i loBefore =
        _mm_or_si128(_mm_slli_si128(lo, B), _mm_srli_si128(V::all(std::numeric_limits<T>::min()), 16 - B));
    const __m128i hiBefore =
        _mm_or_si128(_mm_slli_si128(hi, B), _mm_srli_si128(V::all(std::numeric_limits<T>::max()), 16 - B));
    const __m128i l = V::min(V::max(loBefore, lo), hi);
    hi = V::min(V::max(hiBefore, lo), hi);
    lo = l;
}
#endif

template <typename T> constexpr int32_t kScanLanes = 16 / static_cast<int32_t>(sizeof(T));
// A vector of T on the widest processors this is built for.
template <typename T> constexpr int32_t kSelectLanes = 32 / static_cast<int32_t>(sizeof(T));

template <typename T> void clampChain(const T* k4, const T* k5, int32_t n, T carry, T* out) {
#if defined(__SSE2__)
    using V = Vec<T>;
    constexpr int32_t kLanes = kScanLanes<T>;
    __m128i m = V::all(carry);
    alignas(16) T last[kLanes];
    for (int32_t x = 0; x < n; x += kLanes) {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k4 + x));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k5 + x));
        composeClamps<T, sizeof(T)>(lo, hi);
        composeClamps<T, 2 * sizeof(T)>(lo, hi);
        composeClamps<T, 4 * sizeof(T)>(lo, hi);
        if constexpr (sizeof(T) == 1) composeClamps<T, 8>(lo, hi);
        m = V::min(V::max(m, lo), hi);
        if (x + kLanes <= n) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), m);
        } else {
            _mm_store_si128(reinterpret_cast<__m128i*>(last), m);
            std::memcpy(out + x, last, static_cast<size_t>(n - x) * sizeof(T));
        }
        m = V::lastEverywhere(m); // for the next vector
    }
#else
    T m = carry;
    for (int32_t x = 0; x < n; ++x)
        out[x] = m = std::max(k4[x], std::min(m, k5[x]));
#endif
}

// The recursive median in place over a buffer of T, row by row: the window's eight known values
// in whole vectors, then the chain as a scan.
template <typename T> void scanMedian(int32_t width, int32_t height, T* buf) {
    const size_t w = static_cast<size_t>(width);
    const int32_t inner = width - 2;
    // Room for whole vectors past the row's end, holding clamps that change nothing.
    const size_t room = static_cast<size_t>(inner) + size_t{2} * kScanLanes<T>;
    std::vector<T> k4(room, std::numeric_limits<T>::min()), k5(room, std::numeric_limits<T>::max());
    constexpr int32_t kSelect = kSelectLanes<T>;
    for (int32_t y = 1; y < height - 1; ++y) {
        T* row = buf + y * w;
        // Whole vectors only, the last one overlapping the one before it.
        const int32_t whole = inner / kSelect * kSelect;
        selectRangeOf(row - w, row, row + w, 1, whole, k4.data(), k5.data());
        if (whole < inner)
            selectRangeOf(row - w, row, row + w, std::max(1, inner + 1 - kSelect), std::min(inner, kSelect),
                          k4.data(), k5.data());
        clampChain(k4.data() + 1, k5.data() + 1, inner, row[0], row + 1);
    }
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

// The recursive median over a buffer of B whose truncated values all fit T.
//
// Rows are taken in bands of kBand. Within a band the rows advance together over blocks of kBlock
// columns, each row two blocks behind the one above it, which is how far behind it must be for the
// row above to be final over its whole window. The independent serial chains of the band's rows
// then run interleaved, so the processor overlaps them. Rows are padded to whole blocks; what the
// chains compute in the padding is never read back.
template <typename T, typename B> void medianRows(int32_t width, int32_t height, B* buf) {
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
        for (int j = 1; j <= band; ++j)
            storeRow(rows[j], width, buf + (y + j - 1) * w);
        std::swap(rows[0], rows[band]);
    }
}

// Each value truncated, less 32768, into out; false (out then unfinished) when one of them is
// not a whole number from 0 to 65535 once truncated. Not a number and values beyond 32 bits
// truncate to 0; the test is made on the floats themselves, so that it runs in vectors.
__attribute__((target_clones("avx2", "default"))) bool narrowed(const float* v, size_t n, int16_t* out) {
    int outside = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool inside = (v[i] > -1.0F) & (v[i] < 65536.0F);
        const bool none = !((v[i] >= -2147483648.0F) & (v[i] < 2147483648.0F));
        outside |= !(inside | none);
        // Held within -1 .. 65535 before it is converted (not a number to -1), and then taken only
        // where it lay inside.
        const auto t = static_cast<int32_t>(std::min(65535.0F, std::max(-1.0F, v[i])));
        out[i] = static_cast<int16_t>((inside ? t : 0) - 32768);
    }
    return outside == 0;
}

} // namespace

void recursiveMedian(int32_t width, int32_t height, double* buf, bool narrow) {
    if (width < 3 || height < 3) return;
    if (narrow)
        medianRows<int16_t>(width, height, buf);
    else
        medianRows<int32_t>(width, height, buf);
}

void recursiveMedian(int32_t width, int32_t height, float* buf) {
    if (width < 3 || height < 3) return;
    // Truncated values from 0 to 65535 (a picture scaled to 16 bits) are filtered as 16-bit
    // numbers, less 32768 so that their order is kept; the medians are the same numbers.
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<int16_t> narrow;
    try {
        narrow.resize(n);
    } catch (const std::bad_alloc&) {
        narrow.clear(); // the rows' way below needs no such room
    }
    if (!narrow.empty() && narrowed(buf, n, narrow.data())) {
        scanMedian(width, height, narrow.data());
        for (size_t i = 0; i < n; ++i)
            buf[i] = static_cast<float>(narrow[i] + 32768);
        return;
    }
    medianRows<int32_t>(width, height, buf);
}

void recursiveMedian(int32_t width, int32_t height, uint8_t* buf) {
    if (width < 3 || height < 3) return;
    scanMedian(width, height, buf);
}

} // namespace quarnk
