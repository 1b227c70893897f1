// Histograms and line profiles, left as numbered CSV files in the current directory.
#include "common/no_throw.h"
#include "quarn.h"

#include "common/convert.h"
#include "common/levels.h"
#include "quarnk.h"
#include "slot_files.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace quarn;
using namespace quarnk;

namespace {

// One integer per line, each followed by CR LF: the layout of a one-column CSV image.
bool writeColumn(const std::string& name, const std::vector<double>& values) {
    return Savecsvk(name.c_str(), 1, static_cast<int32_t>(values.size()), values.data()) == 0;
}

// A profile of n positions; sample(k) is pixel k along the line.
template <typename Sample> std::vector<double> profile(int32_t n, bool difference, Sample sample) {
    std::vector<int64_t> entry(static_cast<size_t>(n), 0);
    for (int32_t k = 1; k < n; ++k)
        entry[k] = difference ? truncToInt(sample(k) - sample(k - 1)) : truncToInt(sample(k));
    if (difference && n > 1) {
        int64_t low = 255, high = 0;
        for (int32_t k = 1; k < n; ++k) {
            low = std::min(low, entry[k]);
            high = std::max(high, entry[k]);
        }
        // Equal steps all along the line have no range to stretch: they read as a flat 0.
        for (int32_t k = 1; k < n; ++k)
            entry[k] = high == low ? 0 : (entry[k] - low) * 255 / (high - low);
    }
    return std::vector<double>(entry.begin(), entry.end());
}

} // namespace

extern "C" {

int32_t Hist(int32_t mode, int32_t* result, int32_t number, int32_t id, double* buf) {
    return quarnk::noThrow<int32_t>(5, [&]() -> int32_t {
        int64_t counts[kLevels] = {};
        SlotSize size;
        if (!readPixels(id, buf, size)) return 1;
        if (!readInfo(id, size)) return 3;
        const int64_t n = size.count();
        countLevels(buf, n, counts);
        thresholdOf(mode, counts, n, result);
        std::vector<double> column(counts, counts + kLevels);
        return writeColumn(std::to_string(number) + "_hdat.csv", column) ? 0 : 5;
    });
}

int32_t Lhist(int32_t x, int32_t y, int32_t number, int32_t mode, int32_t id, double* buf) {
    return quarnk::noThrow<int32_t>(5, [&]() -> int32_t {
        SlotSize size;
        if (!readPixels(id, buf, size)) return 1;
        if (!readInfo(id, size)) return 3;
        if (x < 0 || x >= size.width || y < 0 || y >= size.height) return 5;
        const int64_t w = size.width;
        const bool difference = mode == 1;
        const std::string prefix = std::to_string(number);
        auto down = profile(size.height, difference, [&](int32_t k) { return buf[k * w + x]; });
        if (!writeColumn(prefix + "_ylhdat.csv", down)) return 5;
        auto along = profile(size.width, difference, [&](int32_t k) { return buf[y * w + k]; });
        if (!writeColumn(prefix + "_xlhdat.csv", along)) return 5;
        return 0;
    });
}

} // extern "C"
