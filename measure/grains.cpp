// Stripes in several grains (chevrons, grain boundaries): a local orientation map from the
// structure tensor, and the grains, connected regions of one stripe direction.
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tovra::measure::detail {

// The structure tensor (the gradient's outer product on the smoothed picture) summed over cells
// about half a period wide and averaged over three cells by three, twice: over about a period and
// a half. Each cell's doubled angle of the gradient and its coherence (1 for one direction, 0
// for none) follow. The doubled angles are histogrammed (5 degree bins of doubled angle), weighted
// by the coherence; each peak above a fifth of the greatest is a direction, and each coherent cell
// (coherence above 0.5) within 15 degrees of a direction takes it. Connected cells of a direction,
// a twentieth of the picture or more, are a grain.
GrainMap grainsOf(const Image& g, double period) {
    GrainMap map;
    const int w = g.width, h = g.height;
    const int cell = std::max(2, static_cast<int>(std::lround(period / 2)));
    const int across = w / cell, down = h / cell;
    if (across < 4 || down < 4) return map;
    const size_t cells = static_cast<size_t>(across) * down;
    std::vector<double> xx(cells, 0.0), yy(cells, 0.0), xy(cells, 0.0);
    const int xEnd = std::min(across * cell, w) - 1;
    for (int y = 1; y + 1 < down * cell && y + 1 < h; ++y)
        for (int cx = 0; cx < across; ++cx) { // a cell's pixels of the row added in order, in registers
            const size_t c = static_cast<size_t>(y / cell) * across + static_cast<size_t>(cx);
            double sxx = xx[c], syy = yy[c], sxy = xy[c];
            for (int x = std::max(1, cx * cell); x < std::min((cx + 1) * cell, xEnd); ++x) {
                const float* p = g.px.data() + static_cast<size_t>(y) * w + x;
                const double gx = (p[1] - p[-1]) / 2, gy = (p[w] - p[-w]) / 2;
                sxx += gx * gx, syy += gy * gy, sxy += gx * gy;
            }
            xx[c] = sxx, yy[c] = syy, xy[c] = sxy;
        }
    auto spread = [&](std::vector<double>& v) {
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<double> out(cells, 0.0);
            for (int cy = 0; cy < down; ++cy)
                for (int cx = 0; cx < across; ++cx) {
                    double s = 0;
                    int n = 0;
                    for (int j = std::max(0, cy - 1); j <= std::min(down - 1, cy + 1); ++j)
                        for (int i = std::max(0, cx - 1); i <= std::min(across - 1, cx + 1); ++i)
                            s += v[static_cast<size_t>(j) * across + i], ++n;
                    out[static_cast<size_t>(cy) * across + cx] = s / n;
                }
            v.swap(out);
        }
    };
    spread(xx), spread(yy), spread(xy);
    std::vector<double> doubled(cells), coherence(cells);
    constexpr int kBins = 72;
    std::vector<double> histogram(kBins, 0.0);
    for (size_t c = 0; c < cells; ++c) {
        const double energy = xx[c] + yy[c];
        doubled[c] = std::atan2(2 * xy[c], xx[c] - yy[c]);
        coherence[c] = energy > 0 ? std::hypot(xx[c] - yy[c], 2 * xy[c]) / energy : 0;
        const int bin = static_cast<int>(std::floor((doubled[c] + kPi) / (2 * kPi) * kBins)) % kBins;
        histogram[static_cast<size_t>(std::clamp(bin, 0, kBins - 1))] += coherence[c];
    }
    // The histogram smoothed over neighbouring bins (circularly), its peaks the directions.
    std::vector<double> smooth(kBins);
    for (int b = 0; b < kBins; ++b)
        smooth[static_cast<size_t>(b)] =
            (histogram[static_cast<size_t>((b + kBins - 1) % kBins)] + 2 * histogram[static_cast<size_t>(b)] +
             histogram[static_cast<size_t>((b + 1) % kBins)]) /
            4;
    const double top = *std::max_element(smooth.begin(), smooth.end());
    std::vector<double> directions; // doubled angles
    for (int b = 0; b < kBins; ++b) {
        const double here = smooth[static_cast<size_t>(b)];
        if (here > 0.2 * top && here >= smooth[static_cast<size_t>((b + kBins - 1) % kBins)] &&
            here > smooth[static_cast<size_t>((b + 1) % kBins)])
            directions.push_back((b + 0.5) * 2 * kPi / kBins - kPi);
    }
    if (directions.size() < 2) return map;
    std::vector<int> label(cells, -1);
    for (size_t c = 0; c < cells; ++c) {
        if (coherence[c] < 0.5) continue;
        for (size_t d = 0; d < directions.size(); ++d) {
            const double apart = std::fabs(std::remainder(doubled[c] - directions[d], 2 * kPi));
            if (apart < 30 * kPi / 180) label[c] = static_cast<int>(d);
        }
    }
    // Connected cells of one direction (4-neighbours), by a flood from each unvisited cell.
    std::vector<int> grainOf(cells, 0);
    std::vector<size_t> stack;
    for (size_t start = 0; start < cells; ++start) {
        if (label[start] < 0 || grainOf[start] != 0) continue;
        const int id = static_cast<int>(map.grains.size()) + 1;
        std::vector<size_t> members;
        stack.assign(1, start);
        grainOf[start] = id;
        while (!stack.empty()) {
            const size_t c = stack.back();
            stack.pop_back();
            members.push_back(c);
            const int cx = static_cast<int>(c % across), cy = static_cast<int>(c / across);
            const int nbx[4] = {cx - 1, cx + 1, cx, cx}, nby[4] = {cy, cy, cy - 1, cy + 1};
            for (int k = 0; k < 4; ++k) {
                if (nbx[k] < 0 || nby[k] < 0 || nbx[k] >= across || nby[k] >= down) continue;
                const size_t n = static_cast<size_t>(nby[k]) * across + nbx[k];
                if (grainOf[n] == 0 && label[n] == label[start]) grainOf[n] = id, stack.push_back(n);
            }
        }
        if (members.size() * 20 < cells) { // too small for a grain: no grain's
            for (size_t c : members)
                grainOf[c] = -1;
            continue;
        }
        Grain grain;
        grain.id = id;
        grain.areaFraction = static_cast<double>(members.size()) / static_cast<double>(cells);
        // The grain's own direction: the mean of its cells' doubled angles.
        double sx = 0, sy = 0;
        int x1 = across, y1 = down, x2 = 0, y2 = 0;
        // Its box, for the band table, from the cells whose eight neighbours are the grain's too:
        // the cells along a boundary hold the other grain's stripes as well.
        size_t interior = 0;
        for (size_t c : members) {
            sx += coherence[c] * std::cos(doubled[c]), sy += coherence[c] * std::sin(doubled[c]);
            const int cx = static_cast<int>(c % across), cy = static_cast<int>(c / across);
            bool inner = true;
            for (int j = cy - 1; j <= cy + 1 && inner; ++j)
                for (int i = cx - 1; i <= cx + 1 && inner; ++i)
                    inner = i < 0 || j < 0 || i >= across || j >= down ||
                            grainOf[static_cast<size_t>(j) * across + i] == id;
            if (!inner) continue;
            ++interior;
            x1 = std::min(x1, cx), y1 = std::min(y1, cy), x2 = std::max(x2, cx + 1),
            y2 = std::max(y2, cy + 1);
        }
        if (interior == 0) x1 = y1 = 0, x2 = y2 = 1;
        // The averaging of the tensor blurs a boundary over two cells more: the box keeps off
        // them too, except at the picture's border.
        if (x1 > 0) ++x1;
        if (y1 > 0) ++y1;
        if (x2 < across) --x2;
        if (y2 < down) --y2;
        if (x2 <= x1 || y2 <= y1) x1 = y1 = 0, x2 = y2 = 1, interior = 0;
        const double normal = std::atan2(sy, sx) / 2 * 180 / kPi; // the gradient's, across the walls
        grain.angleDeg = std::atan(std::tan((normal + 90) * kPi / 180)) * 180 / kPi;
        map.normalDeg.push_back(normal);
        map.box.push_back(Rect{x1 * cell, y1 * cell, std::min(w, x2 * cell), std::min(h, y2 * cell)});
        int inside = 0; // the box's cells that are the grain's
        for (int j = y1; j < y2; ++j)
            for (int i = x1; i < x2; ++i)
                inside += grainOf[static_cast<size_t>(j) * across + i] == id;
        map.boxShare.push_back(interior > 0 ? static_cast<double>(inside) / ((x2 - x1) * (y2 - y1)) : 0.0);
        map.grains.push_back(grain);
    }
    // Each cell its grain (0: none); the grains are numbered 1, 2, ... already.
    map.cell = cell, map.across = across, map.down = down;
    map.cellGrain.resize(cells);
    for (size_t c = 0; c < cells; ++c)
        map.cellGrain[c] = std::max(0, grainOf[c]);
    return map;
}

std::vector<uint8_t> pixelGrains(const GrainMap& map, int w, int h) {
    std::vector<uint8_t> pixel(static_cast<size_t>(w) * h, 0);
    if (map.cellGrain.empty()) return pixel;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int cx = std::min(x / map.cell, map.across - 1), cy = std::min(y / map.cell, map.down - 1);
            pixel[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(map.cellGrain[static_cast<size_t>(cy) * map.across + cx]);
        }
    return pixel;
}

void findStripesInGrains(Result& r, Frame& f) {
    const Spectrum& s = f.spectrum;
    const Image &smooth = f.smooth, &unfiltered = f.unfiltered;
    const std::vector<uint8_t>& black = f.black;
    const Image& g = smooth; // for its size
    const double noise = f.noise;
    const Blocks& blocks = f.blocks;
    if (r.pattern == "maze" && s.ok) {
        // Stripes in several grains: each grain straight on its own (its runs along its normal,
        // cut where the grain ends, against its own 2 area / wall length), four fifths of the
        // picture in grains.
        const GrainMap map = grainsOf(smooth, s.period);
        double covered = 0;
        for (const Grain& grain : map.grains)
            covered += grain.areaFraction;
        if (map.grains.size() >= 2 && covered >= 0.8) {
            Blocks cells;
            cells.across = map.across, cells.down = map.down;
            cells.column.resize(static_cast<size_t>(g.width)),
                cells.row.resize(static_cast<size_t>(g.height));
            for (int x = 0; x < g.width; ++x)
                cells.column[static_cast<size_t>(x)] = std::min(x / map.cell, map.across - 1);
            for (int y = 0; y < g.height; ++y)
                cells.row[static_cast<size_t>(y)] = std::min(y / map.cell, map.down - 1);
            const std::vector<Tally> byCell = stereologyOf(smooth, r.threshold, black, cells);
            std::vector<uint8_t> pixels = pixelGrains(map, g.width, g.height);
            Runs all;
            bool straight = true;
            std::vector<Band> bands;
            for (size_t k = 0; k < map.grains.size() && straight; ++k) {
                const int id = map.grains[k].id;
                std::vector<uint8_t> mask(pixels.size());
                for (size_t i = 0; i < mask.size(); ++i)
                    mask[i] = pixels[i] == id;
                Tally own;
                for (size_t c = 0; c < byCell.size(); ++c)
                    if (map.cellGrain[c] == id)
                        own.black += byCell[c].black, own.pixels += byCell[c].pixels,
                            own.length += byCell[c].length, own.cells += byCell[c].cells;
                const Stereology st = stereologyFrom(own);
                double across = map.normalDeg[k];
                const auto runs = runsAlongShortest(smooth, r.threshold, across, blocks, &mask);
                straight = runs && st.black > 0 &&
                           std::fabs((runs->mean(1) + runs->mean(0)) / (st.black + st.white) - 1) < kStraight;
                if (!straight) break;
                all.blocks.add(runs->blocks), all.lines.add(runs->lines);
                // The grain's bands where its cells fill nearly all of their box.
                if (map.boxShare[k] < 0.85) continue;
                const Rect& box = map.box[k];
                const Image u = crop(unfiltered, box), sm = crop(smooth, box);
                std::vector<uint8_t> dots(static_cast<size_t>(u.width) * u.height);
                for (int y = 0; y < u.height; ++y)
                    std::copy_n(black.begin() + static_cast<std::ptrdiff_t>(y + box.y1) * g.width + box.x1,
                                u.width, dots.begin() + static_cast<std::ptrdiff_t>(y) * u.width);
                double normal = map.normalDeg[k];
                for (Band band : bandsOf(u, sm, dots, r.threshold, noise, map.normalDeg[k], normal)) {
                    band.positionPx +=
                        box.x1 * std::cos(normal * kPi / 180) + box.y1 * std::sin(normal * kPi / 180);
                    band.grain = id;
                    bands.push_back(band);
                }
                r.walls += 1;
            }
            if (straight) {
                takeRuns(r, all, blocks);
                r.grains = map.grains;
                r.grainOf = std::move(pixels);
                r.walls = bands.empty() ? 0 : r.walls + static_cast<int>(bands.size());
                r.bands = std::move(bands);
            } else {
                r.walls = 0;
            }
        }
    }
}

} // namespace tovra::measure::detail
