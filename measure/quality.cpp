// What makes a frame's numbers wrong though they look like numbers: pixels clipped at the ends of
// the range, objects unlike the domains (scratches, dust), a frame whose parts differ (focus
// falling off, the pattern in part of it), domains narrower than the blur lets one measure, and
// a camera whose response is not linear. Each found here becomes a warning in the verdict.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure::detail {

double percentile(std::vector<float>& v, double share) {
    auto at = v.begin() + static_cast<std::ptrdiff_t>(share * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), at, v.end());
    return static_cast<double>(*at);
}

Clipping clippingOf(const Image& g) {
    Clipping c;
    if (g.px.empty()) return c;
    const auto [lo, hi] = valueRange(g.px);
    if (!(hi > lo)) return c;
    // How many pixels hold the least and the greatest value, and the values next to them: a
    // clipped end piles its pixels up at one value, far above the count of the value next to it;
    // the tail of a quiet camera's noise only reaches it now and then.
    const auto least = static_cast<float>(lo), most = static_cast<float>(hi);
    float nextLow = most, nextHigh = least;
    int64_t low = 0, high = 0;
    for (float v : g.px) {
        low += v == least, high += v == most;
        if (v > least) nextLow = std::min(nextLow, v);
        if (v < most) nextHigh = std::max(nextHigh, v);
    }
    int64_t besideLow = 0, besideHigh = 0;
    for (float v : g.px)
        besideLow += v == nextLow, besideHigh += v == nextHigh;
    const auto n = static_cast<double>(g.px.size());
    c.low = low > kPileUp * besideLow ? static_cast<double>(low) / n : 0;
    c.high = high > kPileUp * besideHigh ? static_cast<double>(high) / n : 0;
    c.lowAll = static_cast<double>(low) / n, c.highAll = static_cast<double>(high) / n;
    return c;
}

double defectShare(const Image& g, const std::vector<uint8_t>& black, double noise) {
    // Each colour's reach: the black pixels' 10th and the white pixels' 90th percentile (a narrow
    // domain's middle, brighter or darker than its colour's mean under the blur, is no defect),
    // from about 2^16 pixels taken evenly over the frame, which place them to a small part of a
    // percent.
    std::vector<float> values[2];
    const size_t step = std::max<size_t>(1, g.px.size() >> 16);
    for (size_t i = 0; i < g.px.size() && i < black.size(); i += step)
        values[black[i]].push_back(g.px[i]);
    if (values[0].size() < 16 || values[1].size() < 16) return 0;
    const bool whiteAbove = percentile(values[0], 0.5) > percentile(values[1], 0.5);
    const double white = percentile(values[0], whiteAbove ? 0.9 : 0.1),
                 dark = percentile(values[1], whiteAbove ? 0.1 : 0.9);
    // Far darker than the black domains or far brighter than the white ones: beyond what the
    // noise reaches (four times it beyond the colour's 10th or 90th percentile, a share of a
    // millionth for Gaussian noise) and beyond a quarter of the contrast again.
    const double margin = std::max(kDefectNoise * noise, kDefectDepth * std::fabs(white - dark));
    const double lo = std::min(white, dark) - margin, hi = std::max(white, dark) + margin;
    int64_t odd = 0;
    for (float v : g.px)
        odd += v < lo || v > hi;
    return static_cast<double>(odd) / static_cast<double>(g.px.size());
}

namespace {

// Calls visit(y, x) for the pixels at least `reach` from a wall along their row and their column,
// on rows sampled so that at most about `most` pixels are looked at. Down the columns, the length of
// each column's run of one colour so far, row by row: a pixel `reach` rows up is inside where that
// run spans its reach both ways. Along a row, its runs trimmed by `reach` at both ends. The pixels
// visited have all eight neighbours.
template <class Visit>
void forEachInside(const std::vector<uint8_t>& black, int w, int h, int reach, int64_t most, Visit&& visit) {
    const int step = std::max(1, static_cast<int>(static_cast<int64_t>(w) * h / most));
    std::vector<int> down(static_cast<size_t>(w), 0);
    for (int last = 0; last < h; ++last) {
        const uint8_t* now = black.data() + static_cast<size_t>(last) * w;
        for (int x = 0; x < w; ++x)
            down[static_cast<size_t>(x)] =
                last > 0 && now[x] == now[x - w] ? down[static_cast<size_t>(x)] + 1 : 1;
        const int y = last - reach;
        if (y < 1 || (y - 1) % step != 0) continue;
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (int run = 0, k = 1; k <= w; ++k) {
            if (k < w && row[k] == row[run]) continue;
            for (int x = std::max(run + reach, 1); x < std::min(k - reach, w - 1); ++x)
                if (down[static_cast<size_t>(x)] > 2 * reach) visit(y, x);
            run = k;
        }
    }
}

constexpr size_t kEnough = 500; // pixels of each colour inside, for either test
constexpr double kHeld = 4;     // the residuals' bound for the skew, in their standard deviations

// A colour's residuals inside its domains, with their mean level.
struct Moments {
    double n = 0, s1 = 0, s2 = 0, s3 = 0, level = 0;
    void add(double r, double v) { n += 1, s1 += r, s2 += r * r, s3 += r * r * r, level += v; }
    void merge(const Moments& o, double sign = 1) {
        n += sign * o.n, s1 += sign * o.s1, s2 += sign * o.s2, s3 += sign * o.s3, level += sign * o.level;
    }
    double mean() const { return s1 / n; }
    double k2() const { return s2 / n - mean() * mean(); }
    double k3() const { return s3 / n - 3 * mean() * s2 / n + 2 * mean() * mean() * mean(); }
    // The third cumulant over the second: a linear camera's gain where shot noise alone skews it.
    double skew() const { return k2() > 0 ? k3() / k2() : 0; }
};

} // namespace

double noiseRatio(const Image& g, const std::vector<uint8_t>& black, int reach) {
    const int w = g.width, h = g.height;
    if (w < 3 || h < 3 || reach < 1 || black.size() != g.px.size()) return 0;
    std::vector<float> d[2];
    forEachInside(black, w, h, reach, int64_t{1} << 18, [&](int y, int x) {
        // Second differences take out the picture's own slope; their spread is sqrt(6) times the
        // noise's.
        const float* v = g.px.data() + static_cast<size_t>(y) * w;
        d[black[static_cast<size_t>(y) * w + x]].push_back(std::fabs(v[x - 1] - 2 * v[x] + v[x + 1]));
    });
    if (d[0].size() < kEnough || d[1].size() < kEnough) return 0;
    const double white = percentile(d[0], 0.5), dark = percentile(d[1], 0.5);
    return white > 0 ? dark / white : 0;
}

double darkSkew(const Image& g, const std::vector<uint8_t>& black, int reach) {
    // A linear camera's noise is read noise and shot noise: its variance grows with the light by
    // the gain, and only the shot noise skews it, by the gain again, so that a colour's third
    // cumulant over its second is at most the gain, which the two colours' variances and levels
    // give. A response that stretches the bright end (a gamma above 1) skews the dark colour's
    // noise beyond that. The noise is read off each pixel less the mean of its eight neighbours,
    // which takes out the picture's own slope and keeps the third cumulant (63/64 of it); the
    // blurred walls' own curvature must be far enough that it does not skew them.
    const int w = g.width, h = g.height;
    if (w < 3 || h < 3 || reach < 1 || black.size() != g.px.size()) return 0;
    constexpr int kBands = 16; // bands of rows, for the jackknife
    std::vector<float> residual[2];
    std::vector<uint8_t> bandOf[2];
    Moments all[2];
    // The skew needs many pixels (its error falls as one over their root): every row up to 724².
    constexpr int64_t kMost = int64_t{1} << 19;
    for (int c = 0; c < 2; ++c)
        residual[c].reserve(static_cast<size_t>(std::min<int64_t>(kMost, int64_t{w} * h) / 2)),
            bandOf[c].reserve(residual[c].capacity());
    forEachInside(black, w, h, reach, kMost, [&](int y, int x) {
        const float* v = g.px.data() + static_cast<size_t>(y) * w;
        const float *up = v - w, *below = v + w;
        const double around = static_cast<double>(up[x - 1]) + up[x] + up[x + 1] + v[x - 1] + v[x + 1] +
                              below[x - 1] + below[x] + below[x + 1];
        const int c = black[static_cast<size_t>(y) * w + x];
        const double r = v[x] - around / 8;
        all[c].add(r, v[x]);
        residual[c].push_back(static_cast<float>(r));
        bandOf[c].push_back(static_cast<uint8_t>(std::min(kBands - 1, y * kBands / h)));
    });
    if (all[0].n < kEnough || all[1].n < kEnough) return 0;
    const int dim = all[1].level / all[1].n <= all[0].level / all[0].n ? 1 : 0;
    const Moments &lo = all[dim], &hi = all[1 - dim];
    const double apart = hi.level / hi.n - lo.level / lo.n;
    if (!(apart > 0) || !(lo.k2() > 0)) return 0;
    // A variance's error is sqrt(2 / n) of it.
    const double gain = (hi.k2() - lo.k2()) / apart,
                 gainSe = std::sqrt(2 * hi.k2() * hi.k2() / hi.n + 2 * lo.k2() * lo.k2() / lo.n) / apart;
    // The dark colour's skew from its residuals held to kHeld of their spread either side of their
    // mean: symmetric noise stays unskewed, and the few far ones, which would rule the third
    // moment and its error, count as at that bound.
    const double centre = lo.mean(), bound = kHeld * std::sqrt(lo.k2());
    Moments bands[kBands], held;
    for (size_t i = 0; i < residual[dim].size(); ++i) {
        const double r = std::clamp(static_cast<double>(residual[dim][i]), centre - bound, centre + bound);
        bands[bandOf[dim][i]].add(r, 0);
        held.add(r, 0);
    }
    // Its error: the jackknife over the bands that hold any of them, and at least what Gaussian
    // noise gives (the third cumulant's variance 6 k2^3 / n).
    std::vector<Moments> filled;
    for (const Moments& b : bands)
        if (b.n > 0) filled.push_back(b);
    const double jack = jackknife(static_cast<int>(filled.size()), [&](int k) {
        Moments rest = held;
        rest.merge(filled[static_cast<size_t>(k)], -1);
        return rest.skew();
    });
    const double skewSe = std::max(jack, std::sqrt(6 * held.k2() / held.n));
    return (held.skew() - std::max(gain, 0.0)) / std::hypot(skewSe, gainSe);
}

std::vector<bool> oddBlocks(const std::vector<Tally>& tallies, const std::vector<double>& blockSigma) {
    std::vector<bool> odd(tallies.size(), false);
    // The pattern in part of the frame: blocks with hardly any walls beside blocks full of them.
    std::vector<double> perArea;
    perArea.reserve(tallies.size());
    for (const Tally& t : tallies)
        perArea.push_back(t.cells > 0 ? t.length / t.cells : 0);
    if (perArea.size() >= 4) {
        const double most = *std::max_element(perArea.begin(), perArea.end());
        for (size_t k = 0; k < perArea.size(); ++k)
            if (most > 0 && perArea[k] < kEmptyBlock * most) odd[k] = true;
    }
    // Focus falling off across the frame: the blocks' blurs further apart than the spread allowed;
    // the blocks beyond half of it from the median are the ones that stand out.
    std::vector<double> sigma;
    for (double s : blockSigma)
        if (s >= 0) sigma.push_back(s);
    if (sigma.size() >= 4 && blockSigma.size() == odd.size()) {
        std::sort(sigma.begin(), sigma.end());
        const double median = sigma[sigma.size() / 2];
        const double spread = std::max(kFocusSpread, kFocusShare * median);
        if (sigma.back() - sigma.front() > spread)
            for (size_t k = 0; k < blockSigma.size(); ++k)
                if (blockSigma[k] >= 0 && std::fabs(blockSigma[k] - median) > spread / 2) odd[k] = true;
    }
    return odd;
}

} // namespace tovra::measure::detail
