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

double noiseRatio(const Image& g, const std::vector<uint8_t>& black, int reach) {
    // Pixels at least `reach` from a wall along their row and their column. Down the columns, the
    // length of each column's run of one colour so far, row by row: a pixel `reach` rows up is
    // inside where that run spans its reach both ways. Along a row, its runs trimmed by `reach` at
    // both ends. Rows are sampled so that at most about 2^18 pixels are looked at.
    const int w = g.width, h = g.height;
    if (w < 3 || h < 3 || reach < 1 || black.size() != g.px.size()) return 0;
    const int step = std::max(1, static_cast<int>(static_cast<int64_t>(w) * h / (1 << 18)));
    std::vector<int> down(static_cast<size_t>(w), 0);
    std::vector<float> d[2];
    for (int last = 0; last < h; ++last) {
        const uint8_t* now = black.data() + static_cast<size_t>(last) * w;
        for (int x = 0; x < w; ++x)
            down[static_cast<size_t>(x)] =
                last > 0 && now[x] == now[x - w] ? down[static_cast<size_t>(x)] + 1 : 1;
        const int y = last - reach;
        if (y < 1 || (y - 1) % step != 0) continue;
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        const float* v = g.px.data() + static_cast<size_t>(y) * w;
        for (int run = 0, k = 1; k <= w; ++k) {
            if (k < w && row[k] == row[run]) continue;
            for (int x = std::max(run + reach, 1); x < std::min(k - reach, w - 1); ++x)
                // Second differences take out the picture's own slope; their spread is sqrt(6)
                // times the noise's.
                if (down[static_cast<size_t>(x)] > 2 * reach)
                    d[row[x]].push_back(std::fabs(v[x - 1] - 2 * v[x] + v[x + 1]));
            run = k;
        }
    }
    constexpr size_t kEnough = 500;
    if (d[0].size() < kEnough || d[1].size() < kEnough) return 0;
    const double white = percentile(d[0], 0.5), dark = percentile(d[1], 0.5);
    return white > 0 ? dark / white : 0;
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
