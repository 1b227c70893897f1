// Domains counted by colour, and isolated domains of one colour in the other (bubbles) told
// from stripes and mazes by their shape: their count, density, equivalent diameters and nearest
// neighbours.
#include "stages.h"

#include <numeric>

#include <array>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tovra::measure::detail {

namespace {

// The square root of the ratio of the region's principal second moments: 1 for a disc, about
// the length over the width for a long domain.
double elongation(const Region& g) {
    const double cx = g.sx / g.area, cy = g.sy / g.area;
    const double xx = g.sxx / g.area - cx * cx + 1.0 / 12, yy = g.syy / g.area - cy * cy + 1.0 / 12,
                 xy = g.sxy / g.area - cx * cy;
    const double mid = (xx + yy) / 2, spread = std::sqrt(std::max(0.0, (xx - yy) * (xx - yy) / 4 + xy * xy));
    const double least = mid - spread;
    return least > 0 ? std::sqrt((mid + spread) / least) : 1e9;
}

// For each point of `from`, the distance to the nearest other point of `all`, found in a grid
// of cells about one typical spacing wide.
std::vector<double> nearestNeighbours(const std::vector<std::pair<double, double>>& all,
                                      const std::vector<size_t>& from, int w, int h) {
    std::vector<double> out;
    if (all.size() < 2) return out;
    const double cell =
        std::max(1.0, std::sqrt(static_cast<double>(w) * h / static_cast<double>(all.size())));
    const int across = static_cast<int>(w / cell) + 1, down = static_cast<int>(h / cell) + 1;
    std::vector<std::vector<size_t>> grid(static_cast<size_t>(across) * down);
    auto cellOf = [&](double v, int n) { return std::clamp(static_cast<int>(v / cell), 0, n - 1); };
    for (size_t i = 0; i < all.size(); ++i)
        grid[static_cast<size_t>(cellOf(all[i].second, down)) * across + cellOf(all[i].first, across)]
            .push_back(i);
    for (size_t i : from) {
        const auto [x, y] = all[i];
        const int cx = cellOf(x, across), cy = cellOf(y, down);
        double best = 1e300;
        // Rings of cells outward until no nearer point can lie beyond the ring searched.
        for (int ring = 0; ring <= std::max(across, down); ++ring) {
            for (int gy = cy - ring; gy <= cy + ring; ++gy)
                for (int gx = cx - ring; gx <= cx + ring; ++gx) {
                    if (std::max(std::abs(gx - cx), std::abs(gy - cy)) != ring) continue;
                    if (gx < 0 || gy < 0 || gx >= across || gy >= down) continue;
                    for (size_t j : grid[static_cast<size_t>(gy) * across + gx])
                        if (j != i) best = std::min(best, std::hypot(all[j].first - x, all[j].second - y));
                }
            if (best <= ring * cell) break;
        }
        if (best < 1e300) out.push_back(best);
    }
    return out;
}

// The sum of squares of `field` (w x h) convolved with the separable `kernel`, rows then columns.
double spreadSquares(const std::vector<double>& field, int w, int h, const std::vector<double>& kernel) {
    const int reach = static_cast<int>(kernel.size() / 2);
    std::vector<double> rows(field.size(), 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double v = field[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
            if (v == 0) continue;
            for (int k = -reach; k <= reach; ++k)
                if (const int to = x + k, tap = k + reach; to >= 0 && to < w)
                    rows[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(to)] +=
                        v * kernel[static_cast<size_t>(tap)];
        }
    double sum = 0;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            double v = 0;
            for (int k = -reach; k <= reach; ++k)
                if (const int from = y + k, tap = k + reach; from >= 0 && from < h)
                    v += rows[static_cast<size_t>(from) * static_cast<size_t>(w) + static_cast<size_t>(x)] *
                         kernel[static_cast<size_t>(tap)];
            sum += v * v;
        }
    return sum;
}

} // namespace

// The binarization was smoothed by `sigma`. Bubbles where the domains of the smaller colour are many (eight
// at least), nearly round (the middle one less than 1.6 times as long as wide, four fifths of their area in
// domains less than twice) and the other colour one connected matrix (nine tenths of its area in one domain).
Domains domainsOf(const std::vector<uint8_t>& black, int w, int h, bool blackRarer, double sigma) {
    Domains d;
    Regions regions = regionsOf(black, w, h);
    const std::vector<Region> all = regionStats(regions, w, h);
    double largestMatrix = 0, matrixArea = 0, minorityArea = 0, roundArea = 0;
    const bool minority = blackRarer; // the bubbles' colour
    std::vector<double> shapes;
    std::vector<std::pair<double, double>> centres;
    std::vector<size_t> inside;
    std::vector<double> diameters;
    std::vector<Domains::Item> seen; // each bubble's region and diameter as seen
    for (size_t gi = 0; gi < all.size(); ++gi) {
        const Region& g = all[gi];
        (g.black ? d.black : d.white) += 1;
        if (!g.touchesBorder) (g.black ? d.blackInside : d.whiteInside) += 1;
        if (g.black != minority) {
            largestMatrix = std::max(largestMatrix, g.area), matrixArea += g.area;
            continue;
        }
        const double e = elongation(g);
        minorityArea += g.area;
        if (e < 2) roundArea += g.area;
        if (!g.touchesBorder) {
            shapes.push_back(e);
            inside.push_back(centres.size());
            // Smoothing by sigma draws a convex domain's wall in by sigma^2 times its curvature over
            // two, which takes pi sigma^2 from its area whatever its size: given back here.
            diameters.push_back(std::sqrt(4 * (g.area + kPi * sigma * sigma) / kPi));
        }
        centres.emplace_back(g.sx / g.area, g.sy / g.area);
        Domains::Item it;
        it.region = static_cast<int32_t>(gi);
        it.elongation = e;
        it.seen = std::sqrt(4 * (g.area + kPi * sigma * sigma) / kPi);
        seen.push_back(it);
    }
    if (centres.size() < 8 || shapes.size() < 4 || !(matrixArea > 0) || largestMatrix < 0.9 * matrixArea ||
        roundArea < 0.8 * minorityArea)
        return d;
    std::nth_element(shapes.begin(), shapes.begin() + static_cast<std::ptrdiff_t>(shapes.size() / 2),
                     shapes.end());
    if (shapes[shapes.size() / 2] >= kRound) return d;
    Bubbles b;
    b.black = minority;
    b.count = static_cast<int>(centres.size());
    b.countInside = static_cast<int>(inside.size());
    b.densityPerPx2 = static_cast<double>(b.count) / (static_cast<double>(w) * h);
    double sum = 0, sum2 = 0;
    for (double v : diameters)
        sum += v, sum2 += v * v;
    const auto n = static_cast<double>(diameters.size());
    b.meanDiameterPx = sum / n;
    b.sdDiameterPx = n > 1 ? std::sqrt(std::max(0.0, (sum2 - sum * sum / n) / (n - 1))) : 0;
    const std::vector<double> nearest = nearestNeighbours(centres, inside, w, h);
    double total = 0;
    for (double v : nearest)
        total += v;
    b.meanNearestNeighbourPx = nearest.empty() ? 0 : total / static_cast<double>(nearest.size());
    d.bubbles = b;
    d.items = std::move(seen);
    for (size_t k = 0; k < centres.size(); ++k)
        d.items[k].x = centres[k].first, d.items[k].y = centres[k].second;
    d.labels = regionLabels(regions, w, h);
    for (size_t k = 0; k < inside.size(); ++k) {
        d.items[inside[k]].diameter = diameters[k];
        if (k < nearest.size()) d.items[inside[k]].nearest = nearest[k];
    }
    return d;
}

// The contrast of each pixel, 0 in the matrix and 1 inside a bubble, clamped (the matrix's noise
// beyond its level would pull every centre toward the disc's), weighs its place. The disc reaches
// three pixels and a fifth of the diameter beyond the bubble's edge, so that a blurred wall's skirt
// counts in full; pixels of other bubbles within it count for nothing. Twice, the disc about the
// centre found. The centre's error is the noise through the weights that are not clamped: each
// moves the centre by its distance from it over the total weight.
void refineCentres(const Image& smooth, Domains& d, std::optional<std::pair<double, double>> levels,
                   double noise) {
    if (!d.bubbles) return;
    const int w = smooth.width, h = smooth.height;
    const bool blackBubbles = d.bubbles->black;
    const double contrast = levels ? levels->first - levels->second : 0;
    const bool refine = levels && contrast > 0 && d.labels.size() == smooth.px.size();
    const double matrix = levels ? (blackBubbles ? levels->first : levels->second) : 0;
    const double sign = blackBubbles ? 1 : -1;
    // Weights below three times the smoothed picture's noise are the matrix's noise, not a skirt:
    // taken off every weight alike, which leaves a round profile's centre where it was.
    const double floor =
        contrast > 0 ? std::min(0.3, 3 * noise / (2 * std::sqrt(kPi) * kSmoothing) / contrast) : 0;
    auto weight = [&](float v) { return (sign * (matrix - v) / contrast - floor) / (1 - floor); };
    d.bubbles->items.clear();
    d.bubbles->items.reserve(d.items.size());
    std::vector<uint8_t> bubbleRegion;
    for (const Domains::Item& it : d.items) {
        if (static_cast<size_t>(it.region) >= bubbleRegion.size())
            bubbleRegion.resize(static_cast<size_t>(it.region) + 1, 0);
        bubbleRegion[static_cast<size_t>(it.region)] = 1;
    }
    // Each bubble's neighbours whose pixels or skirts its disc may reach, from a grid of cells.
    const double widest =
        std::accumulate(d.items.begin(), d.items.end(), 1.0,
                        [](double m, const Domains::Item& it) { return std::max(m, it.seen); });
    const double cell = 2 * (widest / 2 + 3 + 0.2 * widest);
    const int across = std::max(1, static_cast<int>(w / cell) + 1),
              down = std::max(1, static_cast<int>(h / cell) + 1);
    std::vector<std::vector<size_t>> grid(static_cast<size_t>(across) * static_cast<size_t>(down));
    auto cellOf = [cell](double v, int n) { return std::clamp(static_cast<int>(v / cell), 0, n - 1); };
    for (size_t k = 0; k < d.items.size(); ++k)
        grid[static_cast<size_t>(cellOf(d.items[k].y, down)) * static_cast<size_t>(across) +
             static_cast<size_t>(cellOf(d.items[k].x, across))]
            .push_back(k);
    std::vector<size_t> near;
    double narrowest = 0; // the narrowest gap between this bubble's edge and a neighbour's
    // The smoothing's kernel, for the centres' errors.
    const int kernelReach = static_cast<int>(std::ceil(3 * kSmoothing));
    std::vector<double> kernel(static_cast<size_t>(2 * kernelReach + 1));
    for (int k = -kernelReach; k <= kernelReach; ++k)
        if (const int tap = k + kernelReach; tap >= 0)
            kernel[static_cast<size_t>(tap)] = std::exp(-k * k / (2 * kSmoothing * kSmoothing));
    const double kernelSum = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    for (double& k : kernel)
        k /= kernelSum;
    std::array<std::vector<double>, 2> lever;
    std::vector<double> weights;
    // A pixel of another bubble counts for nothing, nor one of the matrix nearer another bubble's
    // edge than this one's: the gap between two bubbles is shared at its middle, so that what the
    // disc loses of this bubble's blurred skirt beyond the middle the neighbour's skirt gives back.
    auto counts = [&](const Domains::Item& it, size_t i, int x, int y) {
        const int32_t label = d.labels[i];
        if (label == it.region) return true;
        if (label >= 0 && static_cast<size_t>(label) < bubbleRegion.size() &&
            bubbleRegion[static_cast<size_t>(label)])
            return false;
        const double own = std::sqrt((x - it.x) * (x - it.x) + (y - it.y) * (y - it.y)) - it.seen / 2;
        // No neighbour's edge is nearer than half the narrowest gap to one.
        if (2 * own < narrowest) return true;
        for (size_t j : near) {
            const Domains::Item& o = d.items[j];
            // Nearer the other's edge: its distance from the other's centre below own + its radius.
            const double limit = own + o.seen / 2;
            if (limit > 0 && (x - o.x) * (x - o.x) + (y - o.y) * (y - o.y) < limit * limit) return false;
        }
        return true;
    };
    const size_t sampleEvery = std::max<size_t>(1, d.items.size() / 64);
    std::vector<double> naive(d.items.size(), 0), scale(d.items.size(), 0), ratios;
    for (size_t k = 0; k < d.items.size(); ++k) {
        Domains::Item& it = d.items[k];
        if (refine) {
            const double reach = it.seen / 2 + 3 + 0.2 * it.seen;
            near.clear();
            const int gx = cellOf(it.x, across), gy = cellOf(it.y, down);
            for (int cy = std::max(0, gy - 1); cy <= std::min(down - 1, gy + 1); ++cy)
                for (int cx = std::max(0, gx - 1); cx <= std::min(across - 1, gx + 1); ++cx)
                    for (size_t j : grid[static_cast<size_t>(cy) * static_cast<size_t>(across) +
                                         static_cast<size_t>(cx)]) {
                        const Domains::Item& o = d.items[j];
                        if (&o != &it && std::hypot(o.x - it.x, o.y - it.y) < reach + o.seen / 2 + 1)
                            near.push_back(j);
                    }
            // Less a pixel, for the centre's own move between the passes.
            narrowest = 1e300;
            for (size_t j : near) {
                const Domains::Item& o = d.items[j];
                narrowest =
                    std::min(narrowest, std::hypot(o.x - it.x, o.y - it.y) - (it.seen + o.seen) / 2 - 1);
            }
            for (int pass = 0; pass < 2; ++pass) {
                const int x0 = std::max(0, static_cast<int>(std::floor(it.x - reach))),
                          x1 = std::min(w - 1, static_cast<int>(std::ceil(it.x + reach))),
                          y0 = std::max(0, static_cast<int>(std::floor(it.y - reach))),
                          y1 = std::min(h - 1, static_cast<int>(std::ceil(it.y + reach)));
                // Each pixel's weight as it is (NaN for a pixel that does not count), kept for the error.
                const int ww = x1 - x0 + 1;
                weights.assign(static_cast<size_t>(ww) * static_cast<size_t>(y1 - y0 + 1),
                               std::numeric_limits<double>::quiet_NaN());
                double sw = 0, sx = 0, sy = 0;
                for (int y = y0; y <= y1; ++y)
                    for (int x = x0; x <= x1; ++x) {
                        const double dx = x - it.x, dy = y - it.y;
                        if (dx * dx + dy * dy > reach * reach) continue;
                        const size_t i = static_cast<size_t>(y) * w + x;
                        if (!counts(it, i, x, y)) continue;
                        const double raw = weight(smooth.px[i]), c = std::clamp(raw, 0.0, 1.0);
                        weights[static_cast<size_t>(y - y0) * static_cast<size_t>(ww) +
                                static_cast<size_t>(x - x0)] = raw;
                        sw += c, sx += c * x, sy += c * y;
                    }
                if (!(sw > 0)) break;
                const double cx = sx / sw, cy = sy / sw;
                // The centre is linear in the smoothed picture's values where the weights are not
                // clamped: each moves it by its distance from it over the total weight. Through the
                // smoothing, a pixel's noise reaches those weights by the kernel: the centre's
                // variance is the noise's times the sum of squares of the kernel spread over them.
                // That sum over the sum of the squares themselves depends on the walls' profile, the
                // same for the bubbles of a frame: it is worked out for 64 of them spread over the
                // frame, and its median taken for all.
                it.x = cx, it.y = cy;
                if (pass == 0) continue;
                const bool exact = (k % sampleEvery) == 0;
                const int pad = kernelReach;
                const int bw = ww + 2 * pad, bh = y1 - y0 + 1 + 2 * pad;
                if (exact) {
                    lever[0].assign(static_cast<size_t>(bw) * static_cast<size_t>(bh), 0.0);
                    lever[1].assign(lever[0].size(), 0.0);
                }
                double squares = 0;
                for (int y = y0; y <= y1; ++y)
                    for (int x = x0; x <= x1; ++x) {
                        const double c = weights[static_cast<size_t>(y - y0) * static_cast<size_t>(ww) +
                                                 static_cast<size_t>(x - x0)];
                        if (!(c > 0 && c < 1)) continue; // NaN too
                        squares += (x - cx) * (x - cx) + (y - cy) * (y - cy);
                        if (!exact) continue;
                        const size_t at = static_cast<size_t>(y - y0 + pad) * static_cast<size_t>(bw) +
                                          static_cast<size_t>(x - x0 + pad);
                        lever[0][at] = x - cx, lever[1][at] = y - cy;
                    }
                if (exact && squares > 0)
                    ratios.push_back(
                        (spreadSquares(lever[0], bw, bh, kernel) + spreadSquares(lever[1], bw, bh, kernel)) /
                        squares);
                naive[k] = squares / 2, scale[k] = noise / (contrast * (1 - floor) * sw);
            }
        }
        Bubble b;
        b.x = it.x, b.y = it.y;
        b.diameter = it.seen;
        b.inside = it.diameter >= 0;
        b.single = it.elongation < kRound;
        d.bubbles->items.push_back(b);
    }
    if (ratios.empty()) return;
    std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2),
                     ratios.end());
    const double ratio = ratios[ratios.size() / 2];
    for (size_t k = 0; k < d.items.size(); ++k)
        d.bubbles->items[k].positionSe = std::sqrt(naive[k] * ratio) * scale[k];
}

void bubbleErrors(Bubbles& b, const std::vector<Domains::Item>& items, const Blocks& blocks, int w, int h) {
    const int n = blocks.count();
    if (n < 2 || items.empty()) return;
    // Each block's bubbles, diameters and nearest neighbours summed, and its area.
    std::vector<double> count(static_cast<size_t>(n), 0), area(static_cast<size_t>(n), 0), dSum(count),
        dCount(count), nSum(count), nCount(count);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            area[static_cast<size_t>(blocks.row[static_cast<size_t>(y)]) *
                     static_cast<size_t>(blocks.across) +
                 static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] += 1;
    // Where each block's columns and rows begin (and the last ends).
    std::vector<double> xs(static_cast<size_t>(blocks.across) + 1, w),
        ys(static_cast<size_t>(blocks.down) + 1, h);
    for (int x = w - 1; x >= 0; --x)
        xs[static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] = x;
    for (int y = h - 1; y >= 0; --y)
        ys[static_cast<size_t>(blocks.row[static_cast<size_t>(y)])] = y;
    // A bubble counts in the blocks its square of its diameter overlaps, in proportion: blocks
    // cut through a lattice would otherwise count whole bubbles on one side of a line or the
    // other, a variation that no other part of the sample shows.
    auto shares = [](double from, double to, const std::vector<double>& edges, std::vector<double>& out) {
        out.assign(edges.size() - 1, 0);
        const double length = to - from;
        for (size_t j = 0; j + 1 < edges.size(); ++j)
            out[j] = length > 0
                         ? std::max(0.0, std::min(to, edges[j + 1]) - std::max(from, edges[j])) / length
                         : (from >= edges[j] && from < edges[j + 1]);
    };
    double typical = 0;
    for (const Domains::Item& it : items)
        typical = std::max(typical, it.diameter);
    std::vector<double> fx, fy;
    for (const Domains::Item& it : items) {
        const double d = it.diameter >= 0 ? it.diameter : typical;
        shares(std::max(0.0, it.x - d / 2), std::min<double>(w, it.x + d / 2), xs, fx);
        shares(std::max(0.0, it.y - d / 2), std::min<double>(h, it.y + d / 2), ys, fy);
        for (int by = 0; by < blocks.down; ++by)
            for (int bx = 0; bx < blocks.across; ++bx) {
                const double f = fx[static_cast<size_t>(bx)] * fy[static_cast<size_t>(by)];
                if (f <= 0) continue;
                const size_t k =
                    static_cast<size_t>(by) * static_cast<size_t>(blocks.across) + static_cast<size_t>(bx);
                count[k] += f;
                if (it.diameter >= 0) dSum[k] += f * it.diameter, dCount[k] += f;
                if (it.nearest >= 0) nSum[k] += f * it.nearest, nCount[k] += f;
            }
    }
    auto sum = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
    const double allCount = sum(count), allArea = sum(area), allD = sum(dSum), allDn = sum(dCount),
                 allN = sum(nSum), allNn = sum(nCount);
    auto ratio = [](double num, double den) { return den > 0 ? num / den : 0; };
    b.densitySePerPx2 = jackknife(n, [&](int k) {
        return ratio(allCount - count[static_cast<size_t>(k)], allArea - area[static_cast<size_t>(k)]);
    });
    b.countSe = b.densitySePerPx2 * allArea;
    b.meanDiameterSePx = jackknife(n, [&](int k) {
        return ratio(allD - dSum[static_cast<size_t>(k)], allDn - dCount[static_cast<size_t>(k)]);
    });
    b.meanNearestNeighbourSePx = jackknife(n, [&](int k) {
        return ratio(allN - nSum[static_cast<size_t>(k)], allNn - nCount[static_cast<size_t>(k)]);
    });
}

} // namespace tovra::measure::detail
