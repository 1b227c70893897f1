// The optics' blur, read off the picture itself: the grey profile across the walls. A wall is a
// step of contrast C blurred by the point-spread function; for a Gaussian of sigma the grey
// gradient across it has the integral C and the square integral C^2 / (2 sigma sqrt(pi)), so over
// all walls (length L) the sum of the squared gradient is C^2 L / (2 sigma sqrt(pi)). The noise's
// share of that sum is taken from the domains' insides, where the picture is flat but for the
// noise, and so is the contrast.
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tovra::measure::detail {

namespace {

// Along each row, whether a marked pixel lies within `radius`: the marks or-ed over the window.
TOVRA_WIDE_VECTORS void orAlongRow(const uint8_t* row, int w, int radius, uint8_t* out) {
    for (int x = 0; x < w; ++x)
        out[x] = row[x];
    for (int d = 1; d <= radius && d < w; ++d) {
        for (int x = 0; x + d < w; ++x)
            out[x] |= row[x + d];
        for (int x = d; x < w; ++x)
            out[x] |= row[x - d];
    }
}

// The walls of one row: pixels whose right neighbour, or the pixel below (`below`, or none on the
// last row), has the other colour.
TOVRA_WIDE_VECTORS void wallsOfRow(const uint8_t* row, const uint8_t* below, int w, uint8_t* out) {
    for (int x = 0; x + 1 < w; ++x)
        out[x] = static_cast<uint8_t>(row[x] ^ row[x + 1]);
    if (w > 0) out[w - 1] = 0;
    if (below)
        for (int x = 0; x < w; ++x)
            out[x] |= static_cast<uint8_t>(row[x] ^ below[x]);
}

// Pixels within `radius` (in both directions, a square) of a marked one: along the rows, then
// running counts down the columns.
std::vector<uint8_t> dilated(const std::vector<uint8_t>& marks, int w, int h, int radius) {
    std::vector<uint8_t> along(marks.size());
    for (int y = 0; y < h; ++y)
        orAlongRow(marks.data() + static_cast<size_t>(y) * w, w, radius,
                   along.data() + static_cast<size_t>(y) * w);
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

// The squared central-difference gradient of one row (rows above and below it at -w and +w),
// for the pixels 1 ... w - 2.
TOVRA_WIDE_VECTORS void squaredGradientRow(const float* row, int w, float* out) {
    for (int x = 1; x + 1 < w; ++x) {
        const float gx = (row[x + 1] - row[x - 1]) * 0.5F, gy = (row[x + w] - row[x - w]) * 0.5F;
        out[x] = gx * gx + gy * gy;
    }
}

// A run of pixels' sums: the squared gradient near the walls and away from them, and away from
// them the levels of each colour, with their counts. Eight lanes side by side, so that the sums
// are made in vectors.
struct RunSums {
    double near = 0, far = 0, level[2] = {0, 0};
    int64_t nearCount = 0, blackCount = 0;
};
TOVRA_WIDE_VECTORS void sumRun(const float* g2, const float* grey, const uint8_t* near, const uint8_t* black,
                               int n, RunSums& out) {
    constexpr int kLanes = 8;
    float sn[kLanes] = {}, sf[kLanes] = {}, lw[kLanes] = {}, ld[kLanes] = {};
    int cn[kLanes] = {}, cb[kLanes] = {};
    auto add = [&](int j, int x) {
        const float m = near[x] ? 1.0F : 0.0F, b = black[x] ? 1.0F : 0.0F;
        sn[j] += m * g2[x], sf[j] += (1 - m) * g2[x];
        lw[j] += (1 - m) * (1 - b) * grey[x], ld[j] += (1 - m) * b * grey[x];
        cn[j] += near[x] != 0, cb[j] += (near[x] == 0) & (black[x] != 0);
    };
    int x = 0;
    for (; x + kLanes <= n; x += kLanes)
        for (int j = 0; j < kLanes; ++j)
            add(j, x + j);
    for (; x < n; ++x)
        add(x % kLanes, x);
    for (int j = 0; j < kLanes; ++j) {
        out.near += sn[j], out.far += sf[j], out.level[0] += lw[j], out.level[1] += ld[j];
        out.nearCount += cn[j], out.blackCount += cb[j];
    }
}

} // namespace

OpticsBlur opticsBlur(const Image& g, const std::vector<uint8_t>& black, const Blocks& blocks,
                      const std::vector<double>& blockLength) {
    OpticsBlur out;
    const int w = g.width, h = g.height, n = blocks.count();
    if (w < 8 || h < 8 || static_cast<int>(blockLength.size()) != n) return out;
    // The walls: pixels whose right or lower neighbour has the other colour.
    std::vector<uint8_t> wall(black.size(), 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        wallsOfRow(row, y + 1 < h ? row + w : nullptr, w, wall.data() + static_cast<size_t>(y) * w);
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
    std::vector<float> g2(static_cast<size_t>(w));
    for (int y = 1; y + 1 < h; ++y) {
        const size_t at = static_cast<size_t>(y) * w;
        const float* row = g.px.data() + at;
        squaredGradientRow(row, w, g2.data());
        const int by = blocks.row[static_cast<size_t>(y)] * blocks.across;
        // Each block's columns are one run; the first and the last column have no gradient.
        for (int x0 = 1; x0 + 1 < w;) {
            const int k = blocks.column[static_cast<size_t>(x0)];
            int x1 = x0;
            while (x1 + 1 < w && blocks.column[static_cast<size_t>(x1)] == k)
                ++x1;
            RunSums run;
            sumRun(g2.data() + x0, row + x0, near.data() + at + x0, black.data() + at + x0, x1 - x0, run);
            Sums& s = sums[static_cast<size_t>(by) + static_cast<size_t>(k)];
            const int64_t count = x1 - x0, farCount = count - run.nearCount;
            s.near += run.near, s.nearCount += run.nearCount;
            s.far += run.far, s.farCount += farCount;
            s.level[0] += run.level[0], s.level[1] += run.level[1];
            s.levelCount[1] += run.blackCount, s.levelCount[0] += farCount - run.blackCount;
            x0 = x1;
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
