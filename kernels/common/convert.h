// Conversions between the reals of a pixel buffer and the integers and bytes of the files.
// Shared by both libraries; nothing here is exported.
#pragma once

#include <cstdint>

namespace quarnk {

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

} // namespace quarnk

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarnk {

// The stored bytes of n reals, as toByte gives them. The processor's truncating conversion yields
// 0x80000000 for every real without a 32-bit integer, whose low byte is 0 as well, so the vector
// path gives the same bytes as the careful scalar rule.
inline void toBytes(const double* src, int64_t n, uint8_t* dst) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(src + i)),
                                             _mm_cvttpd_epi32(_mm_loadu_pd(src + i + 2)));
        const __m128i b = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(src + i + 4)),
                                             _mm_cvttpd_epi32(_mm_loadu_pd(src + i + 6)));
        const __m128i words = _mm_packs_epi32(_mm_and_si128(a, lowByte), _mm_and_si128(b, lowByte));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(words, words));
    }
#endif
    for (; i < n; ++i)
        dst[i] = toByte(src[i]);
}

// Bytes as the reals 0.0..255.0.
inline void bytesToReals(const uint8_t* src, int64_t n, double* dst) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i));
        const __m128i w = _mm_unpacklo_epi8(b, zero);
        const __m128i lo = _mm_unpacklo_epi16(w, zero), hi = _mm_unpackhi_epi16(w, zero);
        _mm_storeu_pd(dst + i, _mm_cvtepi32_pd(lo));
        _mm_storeu_pd(dst + i + 2, _mm_cvtepi32_pd(_mm_unpackhi_epi64(lo, lo)));
        _mm_storeu_pd(dst + i + 4, _mm_cvtepi32_pd(hi));
        _mm_storeu_pd(dst + i + 6, _mm_cvtepi32_pd(_mm_unpackhi_epi64(hi, hi)));
    }
#endif
    for (; i < n; ++i)
        dst[i] = src[i];
}

// Truncates n reals toward zero into 32-bit integers, each as truncToInt gives it, except that a
// real without a 32-bit integer becomes INT32_MIN: callers that use only a range of small values
// (grey levels) see the same results either way.
inline void truncToIntsLoose(const double* src, int64_t n, int32_t* dst) {
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_loadu_pd(src + i)),
                                             _mm_cvttpd_epi32(_mm_loadu_pd(src + i + 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    }
#endif
    for (; i < n; ++i) {
        const int32_t t = truncToInt(src[i]);
        dst[i] = (t == 0 && !(src[i] > -1.0 && src[i] < 1.0)) ? INT32_MIN : t;
    }
}

} // namespace quarnk
