// The binarization level: half way between the mean grey levels inside the black and the white
// domains.
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <numeric>

// The level half way between the means of the domains' insides: isodata over the pixels whose
// whole neighbourhood lies on one side of the level. The blurred walls' pixels would otherwise
// pull the mean of the smaller class toward the level and move it into that class (by a tenth
// of the contrast at a black fraction of 0.38). Each class's sums come from a fine histogram of
// the neighbourhoods' extremes, so each step costs its bins only.
namespace tovra::measure::detail {

// total plus v[0] .. v[n - 1], added one by one in their order. Apart from the loop around it, so
// that the running sum stays in a register.
[[gnu::noinline]] double sumOnto(double total, const float* v, int n) {
    for (int i = 0; i < n; ++i)
        total += v[i];
    return total;
}

TOVRA_WIDE_VECTORS double interiorIsodataWide(const Image& g, std::pair<double, double> range) {
    const int w = g.width, h = g.height, radius = 2;
    if (g.px.empty()) return 0;
    // Every pixel lies in its own neighbourhood, so the neighbourhoods' extremes span the
    // picture's range.
    const double lo = range.first, hi = range.second;
    if (!(hi > lo)) return lo;
    constexpr int bins = 1 << 12;
    const double scale = (bins - 1) / (hi - lo);
    auto binOf = [&](double v) { return std::clamp(static_cast<int>((v - lo) * scale), 0, bins - 1); };
    // A pixel is inside the black class for every level above its neighbourhood's greatest
    // value, inside the white class for every level at or below its least.
    // Pixels side by side fall mostly in one bin: two histograms of each kind, for even and odd
    // columns, keep each addition from waiting for the one before.
    struct Sums {
        double count = 0, sum = 0;
    };
    std::vector<Sums> black(2 * static_cast<size_t>(bins + 1)), white(2 * static_cast<size_t>(bins + 1));
    // The greatest and least value of each pixel's neighbourhood (a square of side 2 radius + 1,
    // borders mirrored): first along the rows, then down the columns one row at a time. The rows'
    // extremes are made as the rows come into the window and kept while they are in it: the
    // window's rows are consecutive, so each has a place of its own among 2 radius + 1.
    constexpr int kWindow = 2 * radius + 1;
    std::vector<float> rowMost(static_cast<size_t>(kWindow) * w), rowLeast(rowMost.size()), padded;
    int held[kWindow];
    std::fill_n(held, kWindow, -1);
    auto rowExtremes = [&](int r) -> size_t {
        const size_t at = static_cast<size_t>(r % kWindow) * w;
        if (held[r % kWindow] != r) {
            held[r % kWindow] = r;
            padRow(g.px.data() + static_cast<size_t>(r) * w, w, radius, padded);
            const float* p = padded.data();
            float* a = rowMost.data() + at;
            float* b = rowLeast.data() + at;
            for (int x = 0; x < w; ++x) {
                float m = p[x], l = p[x];
                for (int i = 1; i <= 2 * radius; ++i)
                    m = std::max(m, p[x + i]), l = std::min(l, p[x + i]);
                a[x] = m, b[x] = l;
            }
        }
        return at;
    };
    std::vector<int> mostBin(static_cast<size_t>(w)), leastBin(static_cast<size_t>(w));
    double total = 0; // of the grey levels, in the picture's order
    for (int y = 0; y < h; ++y) {
        const float *r[kWindow], *q[kWindow];
        for (int i = 0; i < kWindow; ++i) {
            const size_t at = rowExtremes(mirror(y + i - radius, h));
            r[i] = rowMost.data() + at, q[i] = rowLeast.data() + at;
        }
        for (int x = 0; x < w; ++x) { // within 0 .. bins - 1, as lo and hi bound the values
            float m = r[0][x], l = q[0][x];
            for (int i = 1; i < kWindow; ++i)
                m = std::max(m, r[i][x]), l = std::min(l, q[i][x]);
            mostBin[x] = static_cast<int>((m - lo) * scale), leastBin[x] = static_cast<int>((l - lo) * scale);
        }
        const float* v = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const size_t lane = static_cast<size_t>(x & 1) * (bins + 1);
            Sums& b = black[lane + static_cast<size_t>(mostBin[x]) + 1];
            Sums& c = white[lane + static_cast<size_t>(leastBin[x])];
            b.count += 1, b.sum += v[x], c.count += 1, c.sum += v[x];
        }
        total = sumOnto(total, v, w);
    }
    std::vector<double> blackCount(bins + 1), blackSum(bins + 1), whiteCount(bins + 1), whiteSum(bins + 1);
    for (int b = 0; b <= bins; ++b) {
        blackCount[b] = black[b].count + black[b + bins + 1].count;
        blackSum[b] = black[b].sum + black[b + bins + 1].sum;
        whiteCount[b] = white[b].count + white[b + bins + 1].count;
        whiteSum[b] = white[b].sum + white[b + bins + 1].sum;
    }
    for (int b = 0; b < bins; ++b) // black: bins below; white: bins from here on
        blackCount[b + 1] += blackCount[b], blackSum[b + 1] += blackSum[b];
    for (int b = bins - 1; b >= 0; --b)
        whiteCount[b] += whiteCount[b + 1], whiteSum[b] += whiteSum[b + 1];
    // From the mean grey level, each step half way between the two classes' means.
    double t = total / static_cast<double>(g.px.size());
    for (int i = 0; i < 100; ++i) {
        const int k = binOf(t);
        if (blackCount[k] == 0 || whiteCount[k + 1] == 0) break;
        const double next = (blackSum[k] / blackCount[k] + whiteSum[k + 1] / whiteCount[k + 1]) / 2;
        if (std::fabs(next - t) < 1e-9 * (1 + std::fabs(t))) break;
        t = next;
    }
    return t;
}

} // namespace tovra::measure::detail

namespace tovra::measure {

double interiorIsodata(const Image& g) {
    return detail::unwinding<&detail::interiorIsodataWide>(g, detail::valueRange(g.px));
}

} // namespace tovra::measure

namespace tovra::measure::detail {

// The level half way between the two colours' plateaus: the mean of the unsmoothed picture over
// the pixels whose whole 5 x 5 neighbourhood has their colour in `black`. A blurred wall crosses
// that level where the wall is; the smoothed picture's own interiors, lightened or darkened by
// the smoothing in narrow domains, would move it into them.
std::optional<double> plateauLevel(const Image& g, const std::vector<uint8_t>& black) {
    const auto levels = plateauLevels(g, black);
    if (!levels) return std::nullopt;
    return (levels->first + levels->second) / 2;
}

std::optional<std::pair<double, double>> plateauLevels(const Image& g, const std::vector<uint8_t>& black) {
    const int w = g.width, h = g.height, radius = 2;
    if (w <= 2 * radius || h <= 2 * radius) return std::nullopt;
    // Black pixels in each column's window of rows, then across the row's window of columns.
    std::vector<int> column(static_cast<size_t>(w), 0);
    // Each sum adds its own pixels only, 0 for the others (the sums start at +0, which adding 0
    // leaves as it is).
    double sum[2] = {0, 0};
    int64_t n[2] = {0, 0};
    for (int y = 0; y < h; ++y) {
        if (y == 0)
            for (int i = 0; i <= 2 * radius; ++i)
                for (int x = 0; x < w; ++x)
                    column[static_cast<size_t>(x)] += black[static_cast<size_t>(i) * w + x];
        else if (y > radius && y + radius < h)
            for (int x = 0; x < w; ++x)
                column[static_cast<size_t>(x)] += black[static_cast<size_t>(y + radius) * w + x] -
                                                  black[static_cast<size_t>(y - radius - 1) * w + x];
        if (y < radius || y + radius >= h) continue;
        int across = 0;
        for (int x = 0; x < 2 * radius; ++x)
            across += column[static_cast<size_t>(x)];
        const float* row = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = radius; x + radius < w; ++x) {
            across += column[static_cast<size_t>(x) + radius];
            const int all = (2 * radius + 1) * (2 * radius + 1);
            const bool white = across == 0, dark = across == all;
            sum[0] += white ? row[x] : 0.0F, sum[1] += dark ? row[x] : 0.0F, n[0] += white, n[1] += dark;
            across -= column[static_cast<size_t>(x - radius)];
        }
    }
    if (n[0] == 0 || n[1] == 0) return std::nullopt;
    return std::pair{sum[0] / static_cast<double>(n[0]), sum[1] / static_cast<double>(n[1])};
}

std::optional<std::string> binarizeFrame(const Settings& settings, Result& r, Frame& f) {
    const Image& smooth = f.smooth;
    r.threshold = settings.otsu ? unwinding<&interiorIsodataWide>(smooth, f.smoothRange)
                                : std::accumulate(smooth.px.begin(), smooth.px.end(), 0.0) /
                                      static_cast<double>(smooth.px.size());
    std::vector<uint8_t>& black = f.black;
    black.resize(smooth.px.size());
    auto binarize = [&] { // through plain pointers: a byte stored could alias the vectors' own
        const float* v = smooth.px.data();
        uint8_t* out = black.data();
        const double t = r.threshold;
        for (size_t i = 0; i < black.size(); ++i)
            out[i] = v[i] < t;
    };
    binarize();
    if (settings.otsu)
        if (const auto level = plateauLevel(f.unfiltered, black)) r.threshold = *level, binarize();
    removeSpecks(black, f.width(), f.height(), settings.speckArea);
    const int64_t dark = std::count(black.begin(), black.end(), 1);
    if (dark == 0 || dark == static_cast<int64_t>(black.size()))
        return "no domains: the image is all one colour";
    f.domains =
        domainsOf(black, f.width(), f.height(), dark < static_cast<int64_t>(black.size()) / 2, kSmoothing);
    r.blackDomains = f.domains.black, r.whiteDomains = f.domains.white;
    if (f.domains.bubbles) {
        refineCentres(f.smooth, f.domains, plateauLevels(f.smooth, black), f.noise);
        f.domains.labels = {};
    }
    r.bubbles = f.domains.bubbles;
    return std::nullopt;
}

} // namespace tovra::measure::detail
