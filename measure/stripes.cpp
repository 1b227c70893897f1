// Straight stripes: the runs across them along their normal, and the table of bands between
// neighbouring walls.
#include "stages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace tovra::measure::detail {

namespace {

// The least and the greatest of x cx + y cy over the picture's pixels: its extent along (cx, cy).
std::pair<double, double> extentAlong(const Image& g, double cx, double cy) {
    const double corners[4] = {0, (g.width - 1) * cx, (g.height - 1) * cy,
                               (g.width - 1) * cx + (g.height - 1) * cy};
    return {*std::min_element(corners, corners + 4), *std::max_element(corners, corners + 4)};
}

// Grey at (x, y) between the pixels, bilinear.
inline double sampleAt(const Image& g, double x, double y) {
    const int x0 = std::clamp(static_cast<int>(x), 0, g.width - 2),
              y0 = std::clamp(static_cast<int>(y), 0, g.height - 2);
    const double fx = x - x0, fy = y - y0;
    const float* p = g.px.data() + static_cast<size_t>(y0) * g.width + x0;
    return (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[g.width] * (1 - fx) + p[g.width + 1] * fx) * fy;
}

// The picture's grey across straight stripes, folded onto one period: for each quarter pixel of
// the period the mean grey and the number of pixels there.
struct Folded {
    std::vector<double> grey, count;
    double step = 0;
};
Folded foldAcross(const Image& g, double normalDeg, double period) {
    Folded f;
    const int bins = std::max(8, static_cast<int>(std::lround(period * 4)));
    f.step = period / bins;
    f.grey.assign(static_cast<size_t>(bins), 0), f.count = f.grey;
    const double nx = std::cos(normalDeg * kPi / 180), ny = std::sin(normalDeg * kPi / 180);
    const int edge = static_cast<int>(std::ceil(3 * kSmoothing)); // the smoothing's mirrored border
    for (int y = edge; y + edge < g.height; ++y)
        for (int x = edge; x + edge < g.width; ++x) {
            const double turns = (x * nx + y * ny) / period, u = (turns - std::floor(turns)) * bins;
            const auto i = static_cast<size_t>(std::clamp(static_cast<int>(u), 0, bins - 1));
            f.grey[i] += g.px[static_cast<size_t>(y) * g.width + x], f.count[i] += 1;
        }
    for (size_t i = 0; i < f.grey.size(); ++i)
        if (f.count[i] > 0) f.grey[i] /= f.count[i];
    return f;
}

// Least squares of the folded grey against white - contrast x (a black band of width `width`
// centred at `centre`, blurred by sigma, repeated every period); the two levels for the others.
struct BandFit {
    double residual = 0, white = 0, contrast = 0;
};
BandFit fitBand(const Folded& f, double period, double centre, double width, double sigma) {
    BandFit out;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (size_t i = 0; i < f.grey.size(); ++i) {
        if (!(f.count[i] > 0)) continue;
        const double u = (static_cast<double>(i) + 0.5) * f.step;
        double band = 0;
        for (int k = -3; k <= 3; ++k) {
            const double at = u - centre + k * period;
            band += 0.5 * (std::erf((at + width / 2) / (sigma * std::sqrt(2.0))) -
                           std::erf((at - width / 2) / (sigma * std::sqrt(2.0))));
        }
        const double w = f.count[i], x = -band, y = f.grey[i];
        n += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y, syy += w * y * y;
    }
    const double det = n * sxx - sx * sx;
    if (!(det > 0)) {
        out.residual = std::numeric_limits<double>::infinity();
        return out;
    }
    out.contrast = (n * sxy - sx * sy) / det, out.white = (sy - out.contrast * sx) / n;
    const double a = out.white, c = out.contrast;
    out.residual = syy - 2 * a * sy - 2 * c * sxy + a * a * n + 2 * a * c * sx + c * c * sxx;
    return out;
}

// The level half way between the stripes' two colours as the blurred bands show them: the grey
// across the stripes, folded onto one period, fitted by a band of one colour blurred by a
// Gaussian (its centre, width and sigma by the simplex), the two levels by least squares. Where
// the blur is wide against the narrower bands their insides stop short of their colour's level,
// and the level half way between the insides moves into them. The fitted band's width comes
// with it.
std::optional<std::pair<double, double>> stripesMiddle(const Image& g, double normalDeg, double period,
                                                       double blackWidth) {
    if (!(period > 2 && blackWidth > 0 && blackWidth < period)) return std::nullopt;
    const Folded f = foldAcross(g, normalDeg, period);
    // The darkest quarter pixel starts the band's centre.
    size_t darkest = 0;
    for (size_t i = 0; i < f.grey.size(); ++i)
        if (f.count[i] > 0 && (f.count[darkest] == 0 || f.grey[i] < f.grey[darkest])) darkest = i;
    auto cost = [&](const std::array<double, 3>& p) {
        if (!(p[1] > 0.5 && p[1] < period - 0.5 && p[2] > 0.2 && p[2] < period / 2))
            return std::numeric_limits<double>::infinity();
        return fitBand(f, period, p[0], p[1], p[2]).residual;
    };
    // Nelder and Mead's simplex over centre, width and sigma.
    std::array<std::array<double, 3>, 4> s{};
    s[0] = {(static_cast<double>(darkest) + 0.5) * f.step, blackWidth, 1.5};
    for (int i = 1; i < 4; ++i) {
        s[static_cast<size_t>(i)] = s[0];
        s[static_cast<size_t>(i)][static_cast<size_t>(i - 1)] += i == 3 ? 0.5 : 1.0;
    }
    std::array<double, 4> v{};
    for (size_t i = 0; i < 4; ++i)
        v[i] = cost(s[i]);
    for (int iteration = 0; iteration < 400; ++iteration) {
        std::array<size_t, 4> order{0, 1, 2, 3};
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return v[a] < v[b]; });
        const size_t best = order[0], worst = order[3], next = order[2];
        if (std::fabs(v[worst] - v[best]) <= 1e-12 * (std::fabs(v[best]) + 1e-30)) break;
        std::array<double, 3> mid{};
        for (size_t i : {order[0], order[1], order[2]})
            for (size_t j = 0; j < 3; ++j)
                mid[j] += s[i][j] / 3;
        auto along = [&](double t) {
            std::array<double, 3> p{};
            for (size_t j = 0; j < 3; ++j)
                p[j] = mid[j] + t * (s[worst][j] - mid[j]);
            return p;
        };
        const auto reflected = along(-1);
        const double r = cost(reflected);
        if (r < v[best]) {
            const auto expanded = along(-2);
            const double e = cost(expanded);
            if (e < r)
                s[worst] = expanded, v[worst] = e;
            else
                s[worst] = reflected, v[worst] = r;
        } else if (r < v[next]) {
            s[worst] = reflected, v[worst] = r;
        } else {
            const auto contracted = along(0.5);
            const double c = cost(contracted);
            if (c < v[worst]) {
                s[worst] = contracted, v[worst] = c;
            } else {
                for (size_t i = 0; i < 4; ++i)
                    if (i != best) {
                        for (size_t j = 0; j < 3; ++j)
                            s[i][j] = s[best][j] + 0.5 * (s[i][j] - s[best][j]);
                        v[i] = cost(s[i]);
                    }
            }
        }
    }
    const size_t best = static_cast<size_t>(std::min_element(v.begin(), v.end()) - v.begin());
    if (!std::isfinite(v[best])) return std::nullopt;
    const BandFit fit = fitBand(f, period, s[best][0], s[best][1], s[best][2]);
    if (!(fit.contrast > 0)) return std::nullopt;
    return std::pair{fit.white - fit.contrast / 2, s[best][1]};
}

} // namespace

// The mean lengths of black and white runs along lines parallel to the stripes' normal, a pixel
// apart, on the smoothed image at the threshold, each crossing placed by linear interpolation
// between samples a pixel apart. Runs cut by the border (or ending within the smoothing's reach
// of it) are left out; a run shorter than a pixel and a half between two others (noise at a
// wall) joins them.
double Runs::Tally::mean(int black, int without) const {
    double s = 0, n = 0;
    for (size_t k = 0; k < sum[black].size(); ++k)
        if (static_cast<int>(k) != without) s += sum[black][k], n += count[black][k];
    return n > 0 ? s / n : 0;
}

void Runs::Tally::add(const Tally& other) {
    for (int c = 0; c < 2; ++c) {
        sum[c].resize(std::max(sum[c].size(), other.sum[c].size()), 0.0);
        count[c].resize(sum[c].size(), 0.0);
        for (size_t k = 0; k < other.sum[c].size(); ++k)
            sum[c][k] += other.sum[c][k], count[c][k] += other.count[c][k];
    }
}

std::optional<Runs> runsAlongNormal(const Image& g, double t, double normalDeg, const Blocks& blocks,
                                    const std::vector<uint8_t>* within, int every) {
    if (g.width < 2 || g.height < 2) return std::nullopt;
    const double nx = std::cos(normalDeg * kPi / 180), ny = std::sin(normalDeg * kPi / 180);
    const double dx = -ny, dy = nx; // along the walls
    const double w = g.width - 1, h = g.height - 1;
    const auto [sFrom, sTo] = extentAlong(g, dx, dy);
    constexpr double kShortest = 1.5;
    // The smoothing mirrors the picture at its border, and the mirrored walls move the real ones
    // within its reach (three sigma, and a sample for the interpolation): runs there are cut.
    const double reach = std::min(3 * kSmoothing + 1, std::min(w, h) / 8);
    const int bands = blocks.count(); // of lines across, as many as blocks
    Runs out{Runs::Tally(static_cast<size_t>(bands)), Runs::Tally(static_cast<size_t>(bands))};
    int64_t runs[2] = {0, 0};
    struct Run {
        double length, middle;
        uint8_t black;
    };
    std::vector<Run> line;
    for (double s = std::ceil(sFrom); s <= sTo; s += std::max(every, 1)) {
        // The stretch of u where (s dx + u nx, s dy + u ny) lies in the picture.
        double uFrom = -1e300, uTo = 1e300;
        auto clip = [&](double origin, double step, double limit) {
            if (std::fabs(step) < 1e-12) {
                if (origin < 0 || origin > limit) uFrom = 1, uTo = 0;
                return;
            }
            double a = -origin / step, b = (limit - origin) / step;
            if (a > b) std::swap(a, b);
            uFrom = std::max(uFrom, a), uTo = std::min(uTo, b);
        };
        clip(s * dx, nx, w);
        clip(s * dy, ny, h);
        if (!(uTo - uFrom > 2)) continue;
        const auto band = static_cast<size_t>(
            std::clamp(static_cast<int>((s - sFrom) / (sTo - sFrom + 1) * bands), 0, bands - 1));
        // The runs between crossings; what lies before the first and after the last is cut, and
        // so is what leaves `within`, as at the border.
        line.clear();
        auto flush = [&] {
            for (size_t i = 0; i < line.size(); ++i) {
                Run run = line[i];
                while (i + 2 < line.size() &&
                       line[i + 1].length < kShortest) // noise: one run with the next two
                    run.length += line[i + 1].length + line[i + 2].length,
                        run.middle += (line[i + 1].length + line[i + 2].length) / 2, i += 2;
                // Each run counts in the block of its middle.
                const double x = s * dx + run.middle * nx, y = s * dy + run.middle * ny;
                const auto block = static_cast<size_t>(
                    blocks.row[static_cast<size_t>(std::clamp(static_cast<int>(y), 0, g.height - 1))] *
                        blocks.across +
                    blocks.column[static_cast<size_t>(std::clamp(static_cast<int>(x), 0, g.width - 1))]);
                out.blocks.sum[run.black][block] += run.length, out.blocks.count[run.black][block] += 1;
                out.lines.sum[run.black][band] += run.length, out.lines.count[run.black][band] += 1;
                ++runs[run.black];
            }
            line.clear();
        };
        auto inside = [&](double x, double y) {
            if (std::min({x, y, w - x, h - y}) < reach) return false;
            if (!within) return true;
            const int px = std::clamp(static_cast<int>(std::lround(x)), 0, g.width - 1),
                      py = std::clamp(static_cast<int>(std::lround(y)), 0, g.height - 1);
            return (*within)[static_cast<size_t>(py) * g.width + px] != 0;
        };
        std::optional<double> crossed;
        double u = uFrom, previous = sampleAt(g, s * dx + u * nx, s * dy + u * ny) - t;
        for (double next = uFrom + 1; next <= uTo; next += 1) {
            const double x = s * dx + next * nx, y = s * dy + next * ny;
            if (!inside(x, y)) {
                flush(), crossed.reset();
                u = next, previous = sampleAt(g, x, y) - t;
                continue;
            }
            const double v = sampleAt(g, x, y) - t;
            if ((v < 0) != (previous < 0)) {
                const double at = u + previous / (previous - v);
                if (crossed) line.push_back({at - *crossed, (at + *crossed) / 2, previous < 0});
                crossed = at;
            }
            u = next, previous = v;
        }
        flush();
    }
    if (runs[0] == 0 || runs[1] == 0) return std::nullopt;
    return out;
}

// A line off the stripes' normal by u crosses them in runs 1 / cos u times too long, so the mean
// run across, as the line turns, is least along the normal. The runs a few degrees either side
// (on every other line) place that least between them; the direction from the spectrum or the
// bands, off by up to a degree where the walls wave, would lengthen the runs by 1e-4.
std::optional<Runs> runsAlongShortest(const Image& g, double t, double& normalDeg, const Blocks& blocks,
                                      const std::vector<uint8_t>* within) {
    std::optional<Runs> runs = runsAlongNormal(g, t, normalDeg, blocks, within);
    if (!runs) return runs;
    constexpr double kTurn = 2; // degrees
    const auto before = runsAlongNormal(g, t, normalDeg - kTurn, blocks, within, 2),
               after = runsAlongNormal(g, t, normalDeg + kTurn, blocks, within, 2);
    if (!before || !after) return runs;
    const double across = runs->mean(1) + runs->mean(0), turn = kTurn * kPi / 180;
    // across(u) = a0 (1 + u^2 / 2): its difference either side is 2 a0 u turn.
    const double off =
        (after->mean(1) + after->mean(0) - before->mean(1) - before->mean(0)) / (2 * across * turn);
    const double offDeg = std::clamp(off * 180 / kPi, -kTurn, kTurn);
    if (!(std::fabs(offDeg) > 0.05)) return runs;
    if (auto turned = runsAlongNormal(g, t, normalDeg - offDeg, blocks, within)) {
        normalDeg -= offDeg;
        return turned;
    }
    return runs;
}

// Bands of straight stripes. The walls' direction is the one, near the spectrum's, along which
// the prepared image averaged into a profile has the most contrast. At that angle a Hough
// accumulator of the edge image (the gradient's length on the smoothed image), a quarter pixel
// a bin in rho, has a peak at each wall: every peak that no stronger one within a pixel
// suppresses is a wall (peaks of equal votes are all kept, their number is not capped). Each wall is then
// placed to a fraction of a pixel where the prepared image, averaged along the walls, crosses the level half
// way between the two bands beside it; a peak without such a crossing is no wall. Each band is black or white
// by the majority of its binarized pixels.
std::vector<Band> bandsOf(const Image& g, const Image& smooth, const std::vector<uint8_t>& black,
                          double threshold, double noise, double normalDeg, double& refinedNormalDeg) {
    constexpr double kBin = 0.25;
    std::vector<float> edges(smooth.px.size(), 0.0F);
    for (int y = 1; y + 1 < smooth.height; ++y)
        for (int x = 1; x + 1 < smooth.width; ++x) {
            const float* p = smooth.px.data() + static_cast<size_t>(y) * smooth.width + x;
            edges[static_cast<size_t>(y) * smooth.width + x] =
                std::sqrt((p[1] - p[-1]) * (p[1] - p[-1]) +
                          (p[smooth.width] - p[-smooth.width]) * (p[smooth.width] - p[-smooth.width])) /
                2.0F;
        }
    // The profiles across walls whose normal points at `deg`, from every `step`-th row: the grey
    // and the edge accumulator.
    std::vector<double> grey, edge, dark, where;
    std::vector<int> count;
    double origin = 0;
    // `step` 1 gives every profile; others, for choosing the direction, the grey one only.
    auto profile = [&](double deg, int step) {
        const double nx = std::cos(deg * kPi / 180), ny = std::sin(deg * kPi / 180);
        const auto [from, end] = extentAlong(g, nx, ny);
        origin = from;
        const size_t bins = static_cast<size_t>((end - origin) / kBin) + 2;
        grey.assign(bins, 0), edge.assign(bins, 0), dark.assign(bins, 0), count.assign(bins, 0),
            where.assign(bins, 0);
        for (int y = 0; y < g.height; y += step) {
            const float* row = g.px.data() + static_cast<size_t>(y) * g.width;
            const float* rim = edges.data() + static_cast<size_t>(y) * g.width;
            const uint8_t* dots = black.data() + static_cast<size_t>(y) * g.width;
            const double start = (y * ny - origin) / kBin + 0.5, along = nx / kBin;
            if (step > 1) {
                for (int x = 0; x < g.width; ++x) {
                    const auto b = static_cast<size_t>(start + x * along); // never below 0.5
                    grey[b] += row[x], ++count[b];
                }
                continue;
            }
            for (int x = 0; x < g.width; ++x) {
                const double at = start + x * along;
                const auto b = static_cast<size_t>(at);
                grey[b] += row[x], edge[b] += rim[x], dark[b] += dots[x], where[b] += at - 0.5, ++count[b];
            }
        }
    };
    // The direction whose grey profile has the most contrast (walls are sharpest when averaged
    // along them), from every other row: in steps of a quarter degree, then narrowed down to a
    // hundredth by golden sections.
    auto contrast = [&](double deg) {
        profile(deg, 2);
        double s = 0, s2 = 0, n = 0;
        for (size_t b = 0; b < grey.size(); ++b)
            if (count[b] >= 2) {
                const double m = grey[b] / count[b];
                s += m, s2 += m * m, ++n;
            }
        return n > 0 ? s2 / n - (s / n) * (s / n) : 0;
    };
    double best = normalDeg, bestContrast = -1;
    for (double d = -1.5; d <= 1.5 + 1e-9; d += 0.25) {
        const double c = contrast(normalDeg + d);
        if (c > bestContrast) bestContrast = c, best = normalDeg + d;
    }
    const double golden = (std::sqrt(5.0) - 1) / 2;
    double left = best - 0.25, right = best + 0.25;
    double p = right - golden * (right - left), q = left + golden * (right - left);
    double cp = contrast(p), cq = contrast(q);
    while (right - left > 0.01) {
        if (cp > cq)
            right = q, q = p, cq = cp, p = right - golden * (right - left), cp = contrast(p);
        else
            left = p, p = q, cp = cq, q = left + golden * (right - left), cq = contrast(q);
    }
    if (std::max(cp, cq) > bestContrast) best = cp > cq ? p : q;
    refinedNormalDeg = best;
    profile(best, 1);
    // Enough pixels per bin to trust it: walls with short chords, at the corners, are left out
    // where the noise on their bins' means would reach a sixteenth of the contrast between the
    // bands (about twice the middle distance of the bins from the threshold).
    // The bins trusted, each at the mean position of its pixels: along the axes and the diagonals
    // the pixels fall on every fourth or third bin only, and neighbours then lie up to a pixel
    // apart.
    std::vector<double> apart;
    for (size_t b = 0; b < grey.size(); ++b)
        if (count[b] >= 4) apart.push_back(std::fabs(grey[b] / count[b] - threshold));
    if (apart.empty()) return {};
    std::nth_element(apart.begin(), apart.begin() + static_cast<std::ptrdiff_t>(apart.size() / 2),
                     apart.end());
    const double levels = 2 * apart[apart.size() / 2], quiet = levels > 0 ? 16 * noise / levels : 0;
    const int enough = static_cast<int>(std::clamp(
        std::max({4.0, quiet * quiet, *std::max_element(count.begin(), count.end()) / 25.0}), 4.0, 1e9));
    struct Bin {
        double at, grey, edge, dark;
        int count;
    };
    std::vector<Bin> bins;
    for (size_t b = 0; b < grey.size(); ++b)
        if (count[b] >= enough)
            bins.push_back({origin + kBin * where[b] / count[b], grey[b] / count[b], edge[b] / count[b],
                            dark[b], count[b]});
    auto next = [&](size_t j) { return j + 1 < bins.size() && bins[j + 1].at - bins[j].at <= 1.01; };
    // Where the profile crosses `level` between bins j and j + 1, or nothing.
    auto crossing = [&](size_t j, double level) -> std::optional<double> {
        if (!next(j)) return std::nullopt;
        const double a = bins[j].grey - level, b = bins[j + 1].grey - level;
        if ((a > 0) == (b > 0)) return std::nullopt;
        return bins[j].at + (bins[j + 1].at - bins[j].at) * a / (a - b);
    };
    // The accumulator's peaks: no bin within a pixel holds more (equal ones stay).
    std::vector<double> walls;
    size_t from = 0;
    for (size_t j = 0; j < bins.size(); ++j) {
        while (bins[from].at < bins[j].at - 1)
            ++from;
        bool peak = true;
        for (size_t k = from; k < bins.size() && bins[k].at <= bins[j].at + 1 && peak; ++k)
            peak = bins[k].edge <= bins[j].edge;
        if (!peak) continue;
        // The crossing of the threshold nearest the peak, within a pixel and a quarter; peaks of
        // equal votes side by side lead to the same crossing, which counts once.
        std::optional<double> nearest;
        for (size_t k = from; k < bins.size() && bins[k].at <= bins[j].at + 1.25; ++k)
            if (const auto at = crossing(k, threshold); at && std::fabs(*at - bins[j].at) <= 1.25)
                if (!nearest || std::fabs(*at - bins[j].at) < std::fabs(*nearest - bins[j].at)) nearest = at;
        if (nearest && (walls.empty() || *nearest > walls.back() + 1e-9)) walls.push_back(*nearest);
    }
    // Each wall again at the level half way between the two bands beside it (the middle halves of
    // their profiles), so that light left over after the flat field does not move it.
    auto plateau = [&](double a, double b) {
        double sum = 0;
        long n = 0;
        for (const Bin& bin : bins)
            if (bin.at >= a + (b - a) / 4 && bin.at <= b - (b - a) / 4) sum += bin.grey, ++n;
        return n ? std::optional<double>(sum / static_cast<double>(n)) : std::nullopt;
    };
    std::vector<double> refined = walls;
    // Beyond the first and the last wall lies only what the border leaves of a band, often a
    // sliver in a corner: the next whole band of that colour stands in for it.
    const size_t wallCount = walls.size();
    for (size_t i = 0; i < wallCount; ++i) {
        const auto before = i > 0           ? plateau(walls[i - 1], walls[i])
                            : wallCount > 2 ? plateau(walls[1], walls[2])
                                            : std::nullopt;
        const auto after = i + 1 < wallCount ? plateau(walls[i], walls[i + 1])
                           : wallCount > 2   ? plateau(walls[wallCount - 3], walls[wallCount - 2])
                                             : std::nullopt;
        if (!before || !after) continue;
        const double level = (*before + *after) / 2;
        for (size_t j = 0; j < bins.size(); ++j) {
            if (bins[j].at < walls[i] - 1.25 || bins[j].at > walls[i] + 1.25) continue;
            if (const auto at = crossing(j, level)) {
                refined[i] = *at;
                break;
            }
        }
    }
    // Walls that the levels moved onto or past their neighbour are one wall; of two walls with
    // bands of one colour on either side, neither separates anything.
    walls.clear();
    for (double at : refined)
        if (walls.empty() || at > walls.back() + 1) walls.push_back(at);
    auto darkShare = [&](double a, double b) {
        double dsum = 0, n = 0;
        for (const Bin& bin : bins)
            if (bin.at > a && bin.at < b) dsum += bin.dark, n += bin.count;
        return n > 0 ? dsum / n : 0.5;
    };
    for (size_t i = 1; i + 1 < walls.size();) {
        if ((darkShare(walls[i - 1], walls[i]) > 0.5) == (darkShare(walls[i], walls[i + 1]) > 0.5))
            walls.erase(walls.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    std::vector<Band> bands;
    const double wallDeg = std::atan(std::tan((best + 90) * kPi / 180)) * 180 / kPi;
    for (size_t i = 0; i + 1 < walls.size(); ++i) {
        const double a = walls[i], b = walls[i + 1];
        bands.push_back({(a + b) / 2, wallDeg, b - a, darkShare(a, b) > 0.5});
    }
    return bands;
}

// Stripes' widths are their runs across, by definition: what 2 area / wall length gives for
// wavy stripes is another quantity, not an error of the runs, so it adds no allowance.
void takeRuns(Result& r, const Runs& runs, const Blocks& blocks) {
    const double across = runs.mean(1) + runs.mean(0);
    r.pattern = "stripes";
    r.bubbles.reset();
    r.blackWidthSePx = jackknifeAboutPlane(blocks, [&](int k) { return runs.mean(1, k); });
    r.whiteWidthSePx = jackknifeAboutPlane(blocks, [&](int k) { return runs.mean(0, k); });
    // The period's error, twice. Over the blocks, each run in the block of its middle: a wall's
    // error lengthens one run and shortens the next alike, which cancels along a line across the
    // frame but for its ends, and not where a block's edge falls between the two runs, so the
    // blocks' scatter overstates it (about twice on straight stripes). Over bands of whole lines
    // across, each line's runs in one band: where the stripes wave or the light changes along the
    // walls, the bands differ by what the frame averages, which overstates it there. The smaller.
    const double byBlocks =
        jackknifeAboutPlane(blocks, [&](int k) { return runs.mean(1, k) + runs.mean(0, k); });
    const double byLines = jackknife(static_cast<int>(runs.lines.sum[1].size()),
                                     [&](int k) { return runs.lines.mean(1, k) + runs.lines.mean(0, k); });
    r.periodSePx = std::min(byBlocks, byLines);
    r.blackWidthPx = runs.mean(1), r.whiteWidthPx = runs.mean(0), r.periodPx = across;
    // The walls' places, found by interpolating the grey level between pixels, are good to
    // about kWallPlace of a pixel each and to kWallShape of the width for the blur's shape
    // around the threshold: a run has two walls. The shape and the threshold move a wall into
    // black and the next out of it alike, so a period, from a wall to the next of its kind, keeps
    // only the walls' places; their error changes with each wall's place between the pixels and
    // averages out over the walls, but for the part the direction of the lines across may keep
    // (half a wall's).
    auto place = [](double width) { return 2 * kWallPlace + kWallShape * width; };
    r.blackWidthSysPx = place(r.blackWidthPx), r.whiteWidthSysPx = place(r.whiteWidthPx);
    r.periodSysPx = kWallPlace / 2;
}

void findStraightStripes(Result& r, Frame& f) {
    const Spectrum& s = f.spectrum;
    Evidence& e = f.evidence;
    if (!f.domains.bubbles && s.ok && s.anisotropy > 0.5) {
        // Stripes only where the walls are straight: the runs across them along the normal, the
        // stereology and the spectrum give one period. Runs across curved walls are longer than
        // the walls are apart.
        double normal = s.normalDeg;
        std::vector<Band> bands =
            bandsOf(f.unfiltered, f.smooth, f.black, r.threshold, f.noise, s.normalDeg, normal);
        if (const auto runs = runsAlongShortest(f.smooth, r.threshold, normal, f.blocks, nullptr)) {
            const double across = runs->mean(1) + runs->mean(0);
            e.runsOverStereology = across / r.periodPx;
            e.waveOverRuns = s.wavePeriod / across;
            if (std::fabs(e.runsOverStereology - 1) < kStraight &&
                std::fabs(e.waveOverRuns - 1) < kStraight) {
                // The runs again at the level the blurred bands show, and the black fraction moved
                // by the pixels between the two levels. Where the stripes wave, or the fold smears
                // them, the band's width and blur trade against each other and the fit does not
                // hold: the runs at its level must give its width.
                const auto middle = stripesMiddle(f.smooth, normal, across, runs->mean(1));
                const auto again =
                    middle ? runsAlongNormal(f.smooth, middle->first, normal, f.blocks) : std::nullopt;
                const bool fitted =
                    again && std::fabs(again->mean(1) - middle->second) <= kBandFit * middle->second;
                if (fitted) {
                    const double lo = std::min(r.threshold, middle->first),
                                 hi = std::max(r.threshold, middle->first);
                    const auto between = std::count_if(f.smooth.px.begin(), f.smooth.px.end(),
                                                       [&](float v) { return v >= lo && v < hi; });
                    const double moved =
                        static_cast<double>(between) / static_cast<double>(f.smooth.px.size());
                    r.blackFraction = std::clamp(
                        r.blackFraction + (middle->first > r.threshold ? moved : -moved), 0.0, 1.0);
                    r.threshold = middle->first;
                }
                takeRuns(r, fitted ? *again : *runs, f.blocks);
                r.bands = std::move(bands);
                r.walls = r.bands.empty() ? 0 : static_cast<int>(r.bands.size()) + 1;
                r.orientationDeg = std::atan(std::tan((normal + 90) * kPi / 180)) * 180 / kPi;
                r.periodFftPx = s.wavePeriod;
            }
        }
    }
}

} // namespace tovra::measure::detail
