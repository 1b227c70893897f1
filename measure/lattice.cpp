// The order of a lattice of bubbles: neighbours from the Delaunay triangulation (Qhull, the
// maintained library every scientific stack uses for it), coordination numbers, the bubbles with
// five and seven neighbours and their pairs (dislocations), the hexatic order psi6 with its error,
// and the pair and bond-orientational correlations.
#include "stages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numeric>

extern "C" {
#include <libqhull_r/qhull_ra.h>
}

namespace tovra::measure::detail {

namespace {

using Triangle = std::array<int, 3>;

// The Delaunay triangles of the points (x, y pairs); none where Qhull cannot make them (fewer than
// three points, all on a line). Its messages go to a buffer of its own, not to the program's output.
std::vector<Triangle> delaunay(std::vector<double> xy) {
    std::vector<Triangle> out;
    const int n = static_cast<int>(xy.size() / 2);
    if (n < 3) return out;
    char* text = nullptr;
    size_t length = 0;
    std::FILE* messages = open_memstream(&text, &length);
    if (!messages) return out;
    qhT store;
    qhT* qh = &store;
    qh_zero(qh, messages);
    char options[] = "qhull d Qt Qbb Qc Qz Q12";
    const int failed = qh_new_qhull(qh, 2, n, xy.data(), False, options, nullptr, messages);
    if (!failed) {
        facetT* facet;
        FORALLfacets {
            if (facet->upperdelaunay) continue;
            Triangle t{};
            int k = 0;
            vertexT *vertex, **vertexp;
            FOREACHvertex_(facet->vertices) {
                if (k < 3) t[static_cast<size_t>(k)] = qh_pointid(qh, vertex->point);
                ++k;
            }
            // The point at infinity Qz adds is no bubble's.
            if (k == 3 && std::all_of(t.begin(), t.end(), [n](int v) { return v >= 0 && v < n; }))
                out.push_back(t);
        }
    }
    qh_freeqhull(qh, !qh_ALL);
    int longCount = 0, longBytes = 0;
    qh_memfreeshort(qh, &longCount, &longBytes);
    std::fclose(messages);
    std::free(text); // NOLINT(cppcoreguidelines-no-malloc): open_memstream's buffer
    return out;
}

} // namespace

std::optional<LatticeOrder> latticeOrder(const std::vector<Bubble>& items, int w, int h,
                                         const Blocks& blocks) {
    const size_t n = items.size();
    if (n < 12) return std::nullopt;
    std::vector<double> xy;
    xy.reserve(2 * n);
    for (const Bubble& b : items)
        xy.push_back(b.x), xy.push_back(b.y);
    const std::vector<Triangle> triangles = delaunay(xy);
    if (triangles.empty()) return std::nullopt;
    // A triangle is certain where its circumcircle lies inside the frame: no bubble beyond the
    // border could lie in it. A bubble counts where all its triangles are certain and they close
    // around it (as many triangles as neighbours).
    std::vector<std::vector<int>> neighbours(n);
    std::vector<int> triangleCount(n, 0);
    std::vector<uint8_t> certain(n, 1);
    for (const Triangle& t : triangles) {
        const Bubble &a = items[static_cast<size_t>(t[0])], &b = items[static_cast<size_t>(t[1])],
                     &c = items[static_cast<size_t>(t[2])];
        const double d = 2 * (a.x * (b.y - c.y) + b.x * (c.y - a.y) + c.x * (a.y - b.y));
        bool inFrame = false;
        if (std::abs(d) > 1e-12) {
            const double a2 = a.x * a.x + a.y * a.y, b2 = b.x * b.x + b.y * b.y, c2 = c.x * c.x + c.y * c.y;
            const double ux = (a2 * (b.y - c.y) + b2 * (c.y - a.y) + c2 * (a.y - b.y)) / d,
                         uy = (a2 * (c.x - b.x) + b2 * (a.x - c.x) + c2 * (b.x - a.x)) / d;
            const double radius = std::hypot(a.x - ux, a.y - uy);
            inFrame = ux - radius >= 0 && uy - radius >= 0 && ux + radius <= w && uy + radius <= h;
        }
        for (int k = 0; k < 3; ++k) {
            const auto v = static_cast<size_t>(t[static_cast<size_t>(k)]);
            ++triangleCount[v];
            if (!inFrame) certain[v] = 0;
            for (int j = 1; j < 3; ++j)
                neighbours[v].push_back(t[static_cast<size_t>((k + j) % 3)]);
        }
    }
    LatticeOrder order;
    std::vector<std::complex<double>> psi(n);
    std::vector<uint8_t> counted(n, 0);
    for (size_t v = 0; v < n; ++v) {
        auto& nb = neighbours[v];
        std::sort(nb.begin(), nb.end());
        nb.erase(std::unique(nb.begin(), nb.end()), nb.end());
        if (!items[v].inside || !certain[v] || nb.empty() ||
            static_cast<size_t>(triangleCount[v]) != nb.size())
            continue;
        counted[v] = 1;
        ++order.counted;
        std::complex<double> sum = 0;
        for (int j : nb) {
            const Bubble& o = items[static_cast<size_t>(j)];
            sum += std::polar(1.0, 6 * std::atan2(o.y - items[v].y, o.x - items[v].x));
        }
        psi[v] = sum / static_cast<double>(nb.size());
        if (nb.size() == 5) order.five.push_back(static_cast<int>(v));
        if (nb.size() == 7) order.seven.push_back(static_cast<int>(v));
    }
    if (order.counted < 12) return std::nullopt;
    // |psi6| over all counted bubbles, and with each block's left out in turn.
    const int blockCount = blocks.count();
    std::vector<std::complex<double>> blockSum(static_cast<size_t>(blockCount), 0);
    std::vector<int> blockN(static_cast<size_t>(blockCount), 0);
    std::complex<double> all = 0;
    for (size_t v = 0; v < n; ++v) {
        if (!counted[v]) continue;
        all += psi[v];
        const int bx =
            blocks.column.empty()
                ? 0
                : blocks.column[static_cast<size_t>(std::clamp(static_cast<int>(items[v].x), 0, w - 1))];
        const int by =
            blocks.row.empty()
                ? 0
                : blocks.row[static_cast<size_t>(std::clamp(static_cast<int>(items[v].y), 0, h - 1))];
        const size_t k =
            static_cast<size_t>(by) * static_cast<size_t>(blocks.across) + static_cast<size_t>(bx);
        if (k < blockSum.size()) blockSum[k] += psi[v], ++blockN[k];
    }
    order.psi6 = std::abs(all) / order.counted;
    order.psi6Se = jackknife(blockCount, [&](int k) {
        const int left = order.counted - blockN[static_cast<size_t>(k)];
        return left > 0 ? std::abs(all - blockSum[static_cast<size_t>(k)]) / left : order.psi6;
    });
    // Dislocations: each fivefold bubble paired with a sevenfold neighbour not yet paired.
    std::vector<uint8_t> paired(n, 0);
    for (int v : order.five)
        for (int j : neighbours[static_cast<size_t>(v)])
            if (!paired[static_cast<size_t>(j)] && counted[static_cast<size_t>(j)] &&
                neighbours[static_cast<size_t>(j)].size() == 7) {
                paired[static_cast<size_t>(j)] = 1;
                const Bubble &a = items[static_cast<size_t>(v)], &b = items[static_cast<size_t>(j)];
                order.dislocations.push_back({(a.x + b.x) / 2, (a.y + b.y) / 2});
                break;
            }
    // The correlations out to five bond lengths, in twentieths of one, from the counted bubbles at
    // least that far from the border; every bubble a partner for g, every counted one for g6.
    double bonds = 0;
    int bondCount = 0;
    for (size_t v = 0; v < n; ++v)
        if (counted[v])
            for (int j : neighbours[v])
                bonds += std::hypot(items[static_cast<size_t>(j)].x - items[v].x,
                                    items[static_cast<size_t>(j)].y - items[v].y),
                    ++bondCount;
    const double bond = bondCount > 0 ? bonds / bondCount : 0;
    const double reach = 5 * bond, step = bond / 20;
    std::vector<size_t> references;
    for (size_t v = 0; v < n; ++v)
        if (counted[v] && items[v].x >= reach && items[v].y >= reach && items[v].x <= w - reach &&
            items[v].y <= h - reach)
            references.push_back(v);
    if (bond > 0 && references.size() >= 10) {
        const int across = std::max(1, static_cast<int>(w / reach)),
                  down = std::max(1, static_cast<int>(h / reach));
        std::vector<std::vector<size_t>> grid(static_cast<size_t>(across) * static_cast<size_t>(down));
        auto cellOf = [](double v, double size, int cells) {
            return std::clamp(static_cast<int>(v / size), 0, cells - 1);
        };
        const double cw = static_cast<double>(w) / across, ch = static_cast<double>(h) / down;
        for (size_t v = 0; v < n; ++v)
            grid[static_cast<size_t>(cellOf(items[v].y, ch, down)) * static_cast<size_t>(across) +
                 static_cast<size_t>(cellOf(items[v].x, cw, across))]
                .push_back(v);
        const size_t bins = 100;
        std::vector<double> pairs(bins, 0), bonded(bins, 0), sum6(bins, 0);
        for (size_t v : references) {
            const int gx = cellOf(items[v].x, cw, across), gy = cellOf(items[v].y, ch, down);
            for (int y = std::max(0, gy - 1); y <= std::min(down - 1, gy + 1); ++y)
                for (int x = std::max(0, gx - 1); x <= std::min(across - 1, gx + 1); ++x)
                    for (size_t j : grid[static_cast<size_t>(y) * static_cast<size_t>(across) +
                                         static_cast<size_t>(x)]) {
                        if (j == v) continue;
                        const double r = std::hypot(items[j].x - items[v].x, items[j].y - items[v].y);
                        const auto bin = static_cast<size_t>(r / step);
                        if (bin >= bins) continue;
                        pairs[bin] += 1;
                        if (counted[j]) bonded[bin] += 1, sum6[bin] += std::real(psi[v] * std::conj(psi[j]));
                    }
        }
        const double density = static_cast<double>(n) / (static_cast<double>(w) * h);
        for (size_t b = 0; b < bins; ++b) {
            const double r0 = static_cast<double>(b) * step, r1 = r0 + step;
            const double expected =
                static_cast<double>(references.size()) * density * kPi * (r1 * r1 - r0 * r0);
            order.correlation.push_back(
                {(r0 + r1) / 2, pairs[b] / expected, bonded[b] > 0 ? sum6[b] / bonded[b] : 0});
        }
    }
    return order;
}

} // namespace tovra::measure::detail
