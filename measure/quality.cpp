// What makes a frame's numbers wrong though they look like numbers: pixels clipped at the ends of
// the range, objects unlike the domains (scratches, dust), a frame whose parts differ (focus
// falling off, the pattern in part of it), domains narrower than the blur lets one measure, and
// a camera whose response is not linear. Each found here becomes a warning in the verdict.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure::detail {

Clipping clippingOf(const Image& g) {
    Clipping c;
    if (g.px.empty()) return c;
    const auto [lo, hi] = valueRange(g.px);
    if (!(hi > lo)) return c;
    int64_t low = 0, high = 0;
    for (float v : g.px)
        low += v == static_cast<float>(lo), high += v == static_cast<float>(hi);
    c.low = static_cast<double>(low) / static_cast<double>(g.px.size());
    c.high = static_cast<double>(high) / static_cast<double>(g.px.size());
    return c;
}

double defectShare(const Image& g, const std::vector<uint8_t>& black, double noise) {
    double sum[2] = {0, 0};
    int64_t count[2] = {0, 0};
    for (size_t i = 0; i < g.px.size(); ++i)
        sum[black[i]] += g.px[i], ++count[black[i]];
    if (count[0] == 0 || count[1] == 0) return 0;
    const double white = sum[0] / static_cast<double>(count[0]),
                 dark = sum[1] / static_cast<double>(count[1]);
    // Far darker than the black domains or far brighter than the white ones: beyond what the
    // noise reaches and beyond a quarter of the contrast again.
    const double margin = std::max(6 * noise, kDefectDepth * std::fabs(white - dark));
    const double lo = std::min(white, dark) - margin, hi = std::max(white, dark) + margin;
    int64_t odd = 0;
    for (float v : g.px)
        odd += v < lo || v > hi;
    return static_cast<double>(odd) / static_cast<double>(g.px.size());
}

bool uneven(const std::vector<Tally>& tallies, const std::vector<double>& blockSigma) {
    // The pattern in part of the frame: blocks with hardly any walls beside blocks full of them.
    std::vector<double> sorted;
    sorted.reserve(tallies.size());
    for (const Tally& t : tallies)
        sorted.push_back(t.cells > 0 ? t.length / t.cells : 0);
    if (sorted.size() >= 4) {
        std::sort(sorted.begin(), sorted.end());
        const double most = sorted.back();
        if (most > 0 && sorted.front() < kEmptyBlock * most) return true;
    }
    // Focus falling off across the frame: the blocks' blurs far apart.
    std::vector<double> sigma;
    for (double s : blockSigma)
        if (s >= 0) sigma.push_back(s);
    if (sigma.size() >= 4) {
        std::sort(sigma.begin(), sigma.end());
        const double median = sigma[sigma.size() / 2];
        if (sigma.back() - sigma.front() > std::max(kFocusSpread, kFocusShare * median)) return true;
    }
    return false;
}

} // namespace tovra::measure::detail
