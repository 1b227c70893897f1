// Domains counted by colour, and isolated domains of one colour in the other (bubbles) told
// from stripes and mazes by their shape: their count, density, equivalent diameters and nearest
// neighbours.
#include "stages.h"

#include <algorithm>
#include <cmath>

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
    for (const Region& g : all) {
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
    }
    if (centres.size() < 8 || shapes.size() < 4 || !(matrixArea > 0) || largestMatrix < 0.9 * matrixArea ||
        roundArea < 0.8 * minorityArea)
        return d;
    std::nth_element(shapes.begin(), shapes.begin() + static_cast<std::ptrdiff_t>(shapes.size() / 2),
                     shapes.end());
    if (shapes[shapes.size() / 2] >= 1.6) return d;
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
    return d;
}

} // namespace tovra::measure::detail
