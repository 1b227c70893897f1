#include "levels.h"

#include "convert.h"

#include <algorithm>

namespace quarnk {

void countLevels(const double* buf, int64_t n, int64_t* counts) {
    // Four tables, so that runs of one level do not wait on one counter.
    constexpr int kBlock = 4096;
    uint32_t part[4][kLevels] = {};
    int32_t levels[kBlock];
    for (int64_t start = 0; start < n; start += kBlock) {
        const int m = static_cast<int>(std::min<int64_t>(kBlock, n - start));
        truncToIntsLoose(buf + start, m, levels);
        int i = 0;
        for (; i + 4 <= m; i += 4)
            for (int k = 0; k < 4; ++k)
                if (static_cast<uint32_t>(levels[i + k]) < kLevels) ++part[k][levels[i + k]];
        for (; i < m; ++i)
            if (static_cast<uint32_t>(levels[i]) < kLevels) ++part[0][levels[i]];
        if ((start / kBlock) % 1024 == 1023 || start + kBlock >= n) { // fold before 32 bits run out
            for (int k = 0; k < 4; ++k)
                for (int l = 0; l < kLevels; ++l)
                    counts[l] += part[k][l], part[k][l] = 0;
        }
    }
}

void countLevels(const uint8_t* buf, int64_t n, int64_t* counts) {
    constexpr int64_t kFold = int64_t{1} << 30; // each table's counters stay within 32 bits
    uint32_t part[4][kLevels] = {};
    for (int64_t start = 0; start < n; start += kFold) {
        const int64_t end = std::min(n, start + kFold);
        int64_t i = start;
        for (; i + 4 <= end; i += 4)
            for (int k = 0; k < 4; ++k)
                ++part[k][buf[i + k]];
        for (; i < end; ++i)
            ++part[0][buf[i]];
        for (int k = 0; k < 4; ++k)
            for (int l = 0; l < kLevels; ++l)
                counts[l] += part[k][l], part[k][l] = 0;
    }
}

void binarize(uint8_t* buf, int64_t n, int32_t threshold) {
    if (threshold < 0 || threshold > 254) {
        std::fill(buf, buf + n, threshold < 0 ? uint8_t{255} : uint8_t{0});
        return;
    }
    const uint8_t t = static_cast<uint8_t>(threshold); // bytes against a byte, which vectorizes
    for (int64_t i = 0; i < n; ++i)
        buf[i] = buf[i] > t ? 255 : 0;
}

void thresholdOf(int32_t mode, const int64_t* counts, int64_t n, int32_t* result) {
    if (mode == 0) {
        int32_t best = 0;
        for (int32_t i = 1; i < kLevels; ++i)
            if (counts[i] > counts[best]) best = i;
        *result = best;
    } else if (mode == 1) {
        double sum = 0.0;
        for (int32_t i = 0; i < kLevels; ++i)
            sum += static_cast<double>(i * counts[i]);
        *result = n > 0 ? truncToInt(sum / static_cast<double>(n)) : 0;
    }
}

} // namespace quarnk
