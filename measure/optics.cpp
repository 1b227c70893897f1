// The optics' blur, read off the picture itself: the grey profile across the walls. A wall is a
// step of contrast C blurred by the point-spread function; for a Gaussian of sigma the grey
// gradient across it has the integral C and the square integral C^2 / (2 sigma sqrt(pi)), so over
// all walls (length L) the sum of the squared gradient is C^2 L / (2 sigma sqrt(pi)). The noise's
// share of that sum is taken from the domains' insides, where the picture is flat but for the
// noise, and so is the contrast.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure::detail {

namespace {

// Pixels within `radius` (in both directions, a square) of a marked one: two passes of running
// counts, along the rows and down the columns.
std::vector<uint8_t> dilated(const std::vector<uint8_t>& marks, int w, int h, int radius) {
    std::vector<int> along(marks.size());
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = marks.data() + static_cast<size_t>(y) * w;
        int* out = along.data() + static_cast<size_t>(y) * w;
        int count = 0;
        for (int x = 0; x < std::min(radius, w); ++x)
            count += row[x];
        for (int x = 0; x < w; ++x) {
            if (x + radius < w) count += row[x + radius];
            if (x - radius - 1 >= 0) count -= row[x - radius - 1];
            out[x] = count;
        }
    }
    std::vector<uint8_t> near(marks.size());
    std::vector<int> count(static_cast<size_t>(w), 0);
    for (int y = 0; y < std::min(radius, h); ++y)
        for (int x = 0; x < w; ++x)
            count[static_cast<size_t>(x)] += along[static_cast<size_t>(y) * w + x] > 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (y + radius < h)
                count[static_cast<size_t>(x)] += along[static_cast<size_t>(y + radius) * w + x] > 0;
            if (y - radius - 1 >= 0)
                count[static_cast<size_t>(x)] -= along[static_cast<size_t>(y - radius - 1) * w + x] > 0;
            near[static_cast<size_t>(y) * w + x] = count[static_cast<size_t>(x)] > 0;
        }
    }
    return near;
}

} // namespace

OpticsBlur opticsBlur(const Image& g, const std::vector<uint8_t>& black, double wallLength) {
    OpticsBlur out;
    const int w = g.width, h = g.height;
    if (w < 8 || h < 8 || !(wallLength > 0)) return out;
    // The walls: pixels whose right or lower neighbour has the other colour.
    std::vector<uint8_t> wall(black.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if ((x + 1 < w && black[i] != black[i + 1]) || (y + 1 < h && black[i] != black[i + w]))
                wall[i] = 1;
        }
    // Within the band the whole profile of a blur up to sigma 2 lies (its squared gradient falls
    // as a Gaussian of sigma / sqrt 2); outside it only the noise.
    constexpr int kBand = 4;
    const std::vector<uint8_t> near = dilated(wall, w, h, kBand);
    double nearSum = 0, farSum = 0, level[2] = {0, 0};
    int64_t nearCount = 0, farCount = 0, levelCount[2] = {0, 0};
    for (int y = 1; y + 1 < h; ++y) {
        const float* row = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = 1; x + 1 < w; ++x) {
            const double gx = (row[x + 1] - row[x - 1]) / 2.0, gy = (row[x + w] - row[x - w]) / 2.0;
            const double g2 = gx * gx + gy * gy;
            const size_t i = static_cast<size_t>(y) * w + x;
            if (near[i]) {
                nearSum += g2, ++nearCount;
            } else {
                farSum += g2, ++farCount;
                level[black[i]] += row[x], ++levelCount[black[i]];
            }
        }
    }
    if (farCount < 64 || levelCount[0] < 16 || levelCount[1] < 16) return out;
    const double contrast =
        level[0] / static_cast<double>(levelCount[0]) - level[1] / static_cast<double>(levelCount[1]);
    const double signal = nearSum - static_cast<double>(nearCount) * farSum / static_cast<double>(farCount);
    if (!(signal > 0) || !(std::fabs(contrast) > 0)) return out;
    const double measured = contrast * contrast * wallLength / (2 * std::sqrt(kPi) * signal);
    // The central differences themselves average the gradient over two pixels (a box of variance
    // 1/3 along the walls' normal).
    const double variance = measured * measured - 1.0 / 3;
    if (!std::isfinite(variance)) return out;
    out.ok = true;
    out.sigma = std::sqrt(std::max(variance, 0.0));
    return out;
}

} // namespace tovra::measure::detail
