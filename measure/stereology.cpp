// Stereology of the binarized picture: the black area fraction and the walls' length per area,
// from which the domains' mean perpendicular widths follow; specks under a size removed first.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure {

// Connected regions (4-neighbours) smaller than `area` take the other colour: the rows' runs of
// one colour joined (union-find) with the runs of that colour they touch in the row above, and
// every run of a region under the size turned over.
void removeSpecks(std::vector<uint8_t>& black, int w, int h, int area) {
    if (area <= 1 || w <= 0 || h <= 0) return;
    struct Run {
        int32_t begin, end;
        int64_t parent, size;
    };
    std::vector<Run> runs;
    std::vector<size_t> rowStart(static_cast<size_t>(h) + 1, 0);
    auto root = [&](int64_t i) {
        while (runs[i].parent != i)
            i = runs[i].parent = runs[runs[i].parent].parent;
        return i;
    };
    for (int y = 0; y < h; ++y) {
        rowStart[y] = runs.size();
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w;) {
            int end = x + 1;
            while (end < w && row[end] == row[x])
                ++end;
            const auto self = static_cast<int64_t>(runs.size());
            runs.push_back({x, end, self, end - x});
            x = end;
        }
        if (y == 0) continue;
        // Runs of the row above that overlap this row's runs: both lists in order of x.
        const uint8_t* above = row - w;
        size_t j = rowStart[y - 1];
        for (size_t i = rowStart[y]; i < runs.size(); ++i) {
            while (j < rowStart[y] && runs[j].end <= runs[i].begin)
                ++j;
            for (size_t k = j; k < rowStart[y] && runs[k].begin < runs[i].end; ++k) {
                if (above[runs[k].begin] != row[runs[i].begin]) continue;
                const int64_t a = root(static_cast<int64_t>(i)), b = root(static_cast<int64_t>(k));
                if (a != b) runs[a].parent = b, runs[b].size += runs[a].size;
            }
        }
    }
    rowStart[h] = runs.size();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (size_t i = rowStart[y]; i < rowStart[y + 1]; ++i)
            if (runs[root(static_cast<int64_t>(i))].size < area)
                std::fill(row + runs[i].begin, row + runs[i].end, static_cast<uint8_t>(!row[runs[i].begin]));
    }
}


} // namespace tovra::measure

namespace tovra::measure::detail {

// Wall length per area along the threshold's iso-line of the grey image (marching squares with
// linear interpolation along the cell edges): straight walls come out straight, whatever their
// angle.
TOVRA_WIDE_VECTORS double contourLengthPerAreaWide(const Image& g, double t) {
    double length = 0;
    auto cross = [&](double a, double b) { return (t - a) / (b - a); };
    for (int y = 0; y + 1 < g.height; ++y)
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
            if (n == 2) {
                const double dx = px[idx[0]] - px[idx[1]], dy = py[idx[0]] - py[idx[1]];
                length += std::sqrt(dx * dx + dy * dy);
            } else if (n == 4) { // a saddle: the two shorter pairings
                const double a =
                    std::hypot(px[0] - px[1], py[0] - py[1]) + std::hypot(px[2] - px[3], py[2] - py[3]);
                const double b =
                    std::hypot(px[0] - px[3], py[0] - py[3]) + std::hypot(px[1] - px[2], py[1] - py[2]);
                length += std::min(a, b);
            }
        }
    return length / (static_cast<double>(g.width - 1) * (g.height - 1));
}

} // namespace tovra::measure::detail
