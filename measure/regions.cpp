// Connected regions of the binarized picture (4-neighbours): specks removed, domains counted,
// and each region's area, centre and second moments for the bubbles.
#include "stages.h"

#include <algorithm>
#include <cstring>

namespace tovra::measure::detail {

int64_t Regions::root(int64_t i) {
    while (runs[static_cast<size_t>(i)].parent != i)
        i = runs[static_cast<size_t>(i)].parent =
            runs[static_cast<size_t>(runs[static_cast<size_t>(i)].parent)].parent;
    return i;
}

namespace {

// The end of the run of bytes equal to row[x] that starts at x, eight bytes at a time: in a word
// xor-ed with the byte repeated, the first byte not zero is the first one that differs.
int runEnd(const uint8_t* row, int x, int w) {
    const uint64_t same = row[x] * 0x0101010101010101ULL;
    int end = x + 1;
    for (; end + 8 <= w; end += 8) {
        uint64_t word;
        std::memcpy(&word, row + end, sizeof word);
        if (const uint64_t differ = word ^ same; differ != 0) return end + __builtin_ctzll(differ) / 8;
    }
    while (end < w && row[end] == row[x])
        ++end;
    return end;
}

} // namespace

// The rows' runs of one colour joined (union-find) with the runs of that colour they touch in the
// row above.
Regions regionsOf(const std::vector<uint8_t>& black, int w, int h) {
    Regions r;
    r.rowStart.assign(static_cast<size_t>(std::max(h, 0)) + 1, 0);
    auto& runs = r.runs;
    // Counted first and reserved once: a noisy picture has a run every few pixels, and a vector
    // grown by doubling would hold up to twice their room.
    size_t count = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        count += w > 0 ? 1 : 0;
        for (int x = 1; x < w; ++x)
            count += row[x] != row[x - 1];
    }
    runs.reserve(count);
    for (int y = 0; y < h; ++y) {
        r.rowStart[static_cast<size_t>(y)] = runs.size();
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w;) {
            const int end = runEnd(row, x, w);
            const auto self = static_cast<int64_t>(runs.size());
            runs.push_back({x, end, self, end - x, row[x] != 0});
            x = end;
        }
        if (y == 0) continue;
        // Runs of the row above that overlap this row's runs: both lists in order of x.
        const size_t here = r.rowStart[static_cast<size_t>(y)];
        size_t j = r.rowStart[static_cast<size_t>(y) - 1];
        for (size_t i = here; i < runs.size(); ++i) {
            while (j < here && runs[j].end <= runs[i].begin)
                ++j;
            for (size_t k = j; k < here && runs[k].begin < runs[i].end; ++k) {
                if (runs[k].black != runs[i].black) continue;
                const int64_t a = r.root(static_cast<int64_t>(i)), b = r.root(static_cast<int64_t>(k));
                if (a != b) runs[a].parent = b, runs[b].size += runs[a].size;
            }
        }
    }
    r.rowStart[static_cast<size_t>(std::max(h, 0))] = runs.size();
    return r;
}

std::vector<Region> regionStats(Regions& regions, int w, int h) {
    std::vector<Region> out;
    std::vector<int64_t> index(regions.runs.size(), -1);
    for (int y = 0; y < h; ++y)
        for (size_t i = regions.rowStart[static_cast<size_t>(y)];
             i < regions.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            const auto root = static_cast<size_t>(regions.root(static_cast<int64_t>(i)));
            if (index[root] < 0) index[root] = static_cast<int64_t>(out.size()), out.push_back({});
            Region& g = out[static_cast<size_t>(index[root])];
            const Regions::Run& run = regions.runs[i];
            const double n = run.end - run.begin, yy = y;
            // Sums of x and x^2 over the run's pixels begin .. end - 1.
            const double sx = n * (run.begin + run.end - 1) / 2.0;
            const double a = run.begin, b = run.end - 1.0;
            const double sxx = (b * (b + 1) * (2 * b + 1) - (a - 1) * a * (2 * a - 1)) / 6;
            g.black = run.black;
            g.area += n, g.sx += sx, g.sy += n * yy, g.sxx += sxx, g.syy += n * yy * yy, g.sxy += sx * yy;
            g.touchesBorder = g.touchesBorder || y == 0 || y == h - 1 || run.begin == 0 || run.end == w;
        }
    return out;
}

std::vector<int32_t> regionLabels(Regions& regions, int w, int h) {
    std::vector<int32_t> labels(static_cast<size_t>(w) * static_cast<size_t>(h), -1);
    std::vector<int32_t> index(regions.runs.size(), -1);
    int32_t next = 0;
    for (int y = 0; y < h; ++y)
        for (size_t i = regions.rowStart[static_cast<size_t>(y)];
             i < regions.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            const auto root = static_cast<size_t>(regions.root(static_cast<int64_t>(i)));
            if (index[root] < 0) index[root] = next++;
            const Regions::Run& run = regions.runs[i];
            std::fill(labels.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * w + run.begin),
                      labels.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * w + run.end),
                      index[root]);
        }
    return labels;
}

} // namespace tovra::measure::detail

namespace tovra::measure {

// Every run of a region under the size turned over.
void removeSpecks(std::vector<uint8_t>& black, int w, int h, int area) {
    if (area <= 1 || w <= 0 || h <= 0) return;
    detail::Regions regions = detail::regionsOf(black, w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (size_t i = regions.rowStart[static_cast<size_t>(y)];
             i < regions.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            const detail::Regions::Run& run = regions.runs[i];
            if (regions.runs[static_cast<size_t>(regions.root(static_cast<int64_t>(i)))].size < area)
                std::fill(row + run.begin, row + run.end, static_cast<uint8_t>(!run.black));
        }
    }
}

} // namespace tovra::measure
