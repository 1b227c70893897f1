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
    std::vector<uint8_t> along(marks.size()); // at most 2 radius + 1 marks in a window
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = marks.data() + static_cast<size_t>(y) * w;
        uint8_t* out = along.data() + static_cast<size_t>(y) * w;
        int count = 0;
        for (int x = 0; x < std::min(radius, w); ++x)
            count += row[x];
        for (int x = 0; x < w; ++x) {
            if (x + radius < w) count += row[x + radius];
            if (x - radius - 1 >= 0) count -= row[x - radius - 1];
            out[x] = static_cast<uint8_t>(count);
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

OpticsBlur opticsBlur(const Image& g, const std::vector<uint8_t>& black, const Blocks& blocks,
                      const std::vector<double>& blockLength) {
    OpticsBlur out;
    const int w = g.width, h = g.height, n = blocks.count();
    if (w < 8 || h < 8 || static_cast<int>(blockLength.size()) != n) return out;
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
    wall = std::vector<uint8_t>(); // freed, not only emptied
    // Sums by block: the squared gradient near the walls and away from them, and the levels of the
    // domains' insides.
    struct Sums {
        double near = 0, far = 0, level[2] = {0, 0};
        int64_t nearCount = 0, farCount = 0, levelCount[2] = {0, 0};
        void add(const Sums& o) {
            near += o.near, far += o.far;
            nearCount += o.nearCount, farCount += o.farCount;
            for (int c = 0; c < 2; ++c)
                level[c] += o.level[c], levelCount[c] += o.levelCount[c];
        }
    };
    std::vector<Sums> sums(static_cast<size_t>(n));
    for (int y = 1; y + 1 < h; ++y) {
        const float* row = g.px.data() + static_cast<size_t>(y) * w;
        const int by = blocks.row[static_cast<size_t>(y)] * blocks.across;
        for (int x = 1; x + 1 < w; ++x) {
            const double gx = (row[x + 1] - row[x - 1]) / 2.0, gy = (row[x + w] - row[x - w]) / 2.0;
            const double g2 = gx * gx + gy * gy;
            const size_t i = static_cast<size_t>(y) * w + x;
            Sums& s =
                sums[static_cast<size_t>(by) + static_cast<size_t>(blocks.column[static_cast<size_t>(x)])];
            if (near[i]) {
                s.near += g2, ++s.nearCount;
            } else {
                s.far += g2, ++s.farCount;
                s.level[black[i]] += row[x], ++s.levelCount[black[i]];
            }
        }
    }
    // The blur from a set of sums and its wall length.
    auto sigmaOf = [](const Sums& s, double length) -> std::optional<double> {
        if (s.farCount < 64 || s.levelCount[0] < 16 || s.levelCount[1] < 16 || !(length > 0))
            return std::nullopt;
        const double white = s.level[0] / static_cast<double>(s.levelCount[0]),
                     dark = s.level[1] / static_cast<double>(s.levelCount[1]), contrast = white - dark;
        const double noise = s.far / static_cast<double>(s.farCount);
        const double signal = s.near - static_cast<double>(s.nearCount) * noise;
        if (!(signal > 0) || !(std::fabs(contrast) > 0)) return std::nullopt;
        const double measured = contrast * contrast * length / (2 * std::sqrt(kPi) * signal);
        // The central differences themselves average the gradient over two pixels (a box of
        // variance 1/3 along the walls' normal).
        const double variance = measured * measured - 1.0 / 3;
        if (!std::isfinite(variance)) return std::nullopt;
        return std::sqrt(std::max(variance, 0.0));
    };
    Sums all;
    double length = 0;
    for (int k = 0; k < n; ++k)
        all.add(sums[static_cast<size_t>(k)]), length += blockLength[static_cast<size_t>(k)];
    if (const auto sigma = sigmaOf(all, length)) out.ok = true, out.sigma = *sigma;
    out.blockSigma.assign(static_cast<size_t>(n), -1);
    for (int k = 0; k < n; ++k)
        if (const auto sigma = sigmaOf(sums[static_cast<size_t>(k)], blockLength[static_cast<size_t>(k)]))
            out.blockSigma[static_cast<size_t>(k)] = *sigma;
    return out;
}

} // namespace tovra::measure::detail
