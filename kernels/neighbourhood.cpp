// Filters that compute a pixel from its neighbours: recursive median, edge, dust removal.
#include "common/no_throw.h"
#include "quarnk.h"

#include "common/convert.h"
#include "common/median.h"
#include "stretch.h"

#include <cstdlib>

using quarnk::elementCount;
using quarnk::truncToInt;

extern "C" {

int32_t Medk(int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        if (width < 3 || height < 3) return 0;
        // Every pixel lies in some window, so every pixel ends truncated. Values that all fit 16 bits
        // (every grey image) take the narrow path; not-a-number at the start takes the wide one.
        double lo, hi;
        quarnk::minMax(elementCount(width, height), buf, lo, hi);
        quarnk::recursiveMedian(width, height, buf, lo > -32769.0 && hi < 32768.0);
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
