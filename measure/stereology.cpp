// Stereology of the binarized picture: the black area fraction and the walls' length per area,
// from which the domains' mean perpendicular widths follow, tallied block by block for their
// standard errors.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure::detail {

namespace {

// Wall length along the threshold's iso-line of the grey image (marching squares with linear
// interpolation along the cell edges), added to each block's tally: straight walls come out
// straight, whatever their angle. A cell belongs to the block of its top left pixel.
TOVRA_WIDE_VECTORS void contourLengthWide(const Image& g, double t, const Blocks& blocks, Tally* tallies) {
    auto cross = [&](double a, double b) { return (t - a) / (b - a); };
    std::vector<double> along(static_cast<size_t>(blocks.across));
    for (int y = 0; y + 1 < g.height; ++y) {
        std::fill(along.begin(), along.end(), 0.0);
        for (int x = 0; x + 1 < g.width; ++x) {
            const double v[4] = {g.px[static_cast<size_t>(y) * g.width + x],
                                 g.px[static_cast<size_t>(y) * g.width + x + 1],
                                 g.px[static_cast<size_t>(y + 1) * g.width + x + 1],
                                 g.px[static_cast<size_t>(y + 1) * g.width + x]};
            const int code = (v[0] < t) | (v[1] < t) << 1 | (v[2] < t) << 2 | (v[3] < t) << 3;
            if (code == 0 || code == 15) continue;
            // Crossing points on the cell's four edges: top, right, bottom, left.
            double px[4], py[4];
            bool on[4] = {false, false, false, false};
            const double cx[4] = {0, 1, 1, 0}, cy[4] = {0, 0, 1, 1};
            for (int e = 0; e < 4; ++e) {
                const int a = e, b = (e + 1) % 4;
                if ((v[a] < t) == (v[b] < t)) continue;
                const double f = cross(v[a], v[b]);
                px[e] = cx[a] + f * (cx[b] - cx[a]), py[e] = cy[a] + f * (cy[b] - cy[a]);
                on[e] = true;
            }
            int idx[4], n = 0;
            for (int e = 0; e < 4; ++e)
                if (on[e]) idx[n++] = e;
            double length = 0;
            if (n == 2) {
                const double dx = px[idx[0]] - px[idx[1]], dy = py[idx[0]] - py[idx[1]];
                length = std::sqrt(dx * dx + dy * dy);
            } else if (n == 4) { // a saddle: the two shorter pairings
                const double a =
                    std::hypot(px[0] - px[1], py[0] - py[1]) + std::hypot(px[2] - px[3], py[2] - py[3]);
                const double b =
                    std::hypot(px[0] - px[3], py[0] - py[3]) + std::hypot(px[1] - px[2], py[1] - py[2]);
                length = std::min(a, b);
            }
            along[static_cast<size_t>(blocks.column[x])] += length;
        }
        Tally* row = tallies + static_cast<size_t>(blocks.row[y]) * blocks.across;
        for (int b = 0; b < blocks.across; ++b)
            row[b].length += along[static_cast<size_t>(b)];
    }
}

} // namespace

Blocks blocksOf(int w, int h, double period) {
    Blocks b;
    auto split = [period](int n) {
        const int most = period > 0 ? static_cast<int>(n / (3 * period)) : 2;
        return std::clamp(most, 2, 8);
    };
    b.across = std::min(split(w), std::max(1, w / 2)), b.down = std::min(split(h), std::max(1, h / 2));
    b.column.resize(static_cast<size_t>(std::max(w, 0)));
    b.row.resize(static_cast<size_t>(std::max(h, 0)));
    for (int x = 0; x < w; ++x)
        b.column[static_cast<size_t>(x)] = static_cast<int>(static_cast<int64_t>(x) * b.across / w);
    for (int y = 0; y < h; ++y)
        b.row[static_cast<size_t>(y)] = static_cast<int>(static_cast<int64_t>(y) * b.down / h);
    return b;
}

std::vector<Tally> stereologyOf(const Image& smooth, double t, const std::vector<uint8_t>& black,
                                const Blocks& blocks) {
    std::vector<Tally> tallies(static_cast<size_t>(blocks.count()));
    const int w = smooth.width, h = smooth.height;
    // A block's columns are one run, so each row adds whole-number counts per run (exact sums, as
    // adding one pixel at a time would give).
    std::vector<int> runEnd(static_cast<size_t>(blocks.across), 0);
    for (int x = 0; x < w; ++x)
        runEnd[static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] = x + 1;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        Tally* line =
            tallies.data() + static_cast<size_t>(blocks.row[static_cast<size_t>(y)]) * blocks.across;
        for (int k = 0, x0 = 0; k < blocks.across; ++k) {
            const int x1 = std::max(x0, runEnd[static_cast<size_t>(k)]);
            int64_t dark = 0;
            for (int x = x0; x < x1; ++x)
                dark += row[x];
            line[k].black += static_cast<double>(dark);
            line[k].pixels += x1 - x0;
            if (y + 1 < h) line[k].cells += std::min(x1, w - 1) - std::min(x0, w - 1);
            x0 = x1;
        }
    }
    unwinding<&contourLengthWide>(smooth, t, blocks, tallies.data());
    return tallies;
}

Tally total(const std::vector<Tally>& tallies, int without) {
    Tally sum;
    for (size_t k = 0; k < tallies.size(); ++k)
        if (static_cast<int>(k) != without)
            sum.black += tallies[k].black, sum.pixels += tallies[k].pixels, sum.length += tallies[k].length,
                sum.cells += tallies[k].cells;
    return sum;
}

} // namespace tovra::measure::detail

namespace tovra::measure::detail {

Stereology stereologyFrom(const Tally& t) {
    Stereology s;
    if (!(t.pixels > 0 && t.cells > 0 && t.length > 0)) return s;
    s.fraction = t.black / t.pixels;
    s.perArea = t.length / t.cells;
    s.black = 2 * s.fraction / s.perArea, s.white = 2 * (1 - s.fraction) / s.perArea;
    return s;
}

} // namespace tovra::measure::detail
