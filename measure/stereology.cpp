// Stereology of the binarized picture: the black area fraction and the walls' length per area,
// from which the domains' mean perpendicular widths follow, tallied block by block for their
// standard errors.
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tovra::measure::detail {

namespace {

// Room for one row of cells: a row of blocks' lengths, and which cells the iso-line crosses.
struct ContourRow {
    std::vector<double> along;
    std::vector<uint8_t> crossed; // whole words of eight
    ContourRow(const Blocks& blocks, int w)
        : along(static_cast<size_t>(blocks.across)),
          crossed(static_cast<size_t>(std::max(w, 0)) / 8 * 8 + 8) {}
};

// Wall length along the threshold's iso-line of the grey image (marching squares with linear
// interpolation along the cell edges), added to each block's tally: straight walls come out
// straight, whatever their angle. A cell belongs to the block of its top left pixel. One row of
// cells, between the rows `top` (row y) and `bottom`.
TOVRA_WIDE_VECTORS void contourRowWide(const float* top, const float* bottom, int w, int y, double t,
                                       const Blocks& blocks, Tally* tallies, ContourRow& room) {
    double* along = room.along.data();
    std::fill(along, along + blocks.across, 0.0);
    // Most cells have their four pixels on one side of the level: the others are marked in
    // vectors first, and the rest skipped eight at a time.
    uint8_t* crossed = room.crossed.data();
    const int cells = std::max(w - 1, 0);
    for (int x = 0; x < cells; ++x) {
        const int below = (top[x] < t) + (top[x + 1] < t) + (bottom[x] < t) + (bottom[x + 1] < t);
        crossed[x] = (below & 3) != 0;
    }
    std::fill(crossed + cells, crossed + room.crossed.size(), uint8_t{0});
    auto cross = [&](double a, double b) { return (t - a) / (b - a); };
    forEachMarked(crossed, room.crossed.size(), [&](size_t x) {
        const double v[4] = {top[x], top[x + 1], bottom[x + 1], bottom[x]};
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
        double length = 0;
        if (n == 2) {
            const double dx = px[idx[0]] - px[idx[1]], dy = py[idx[0]] - py[idx[1]];
            length = std::sqrt(dx * dx + dy * dy);
        } else if (n == 4) { // a saddle: the two shorter pairings
            const double a =
                std::hypot(px[0] - px[1], py[0] - py[1]) + std::hypot(px[2] - px[3], py[2] - py[3]);
            const double b =
                std::hypot(px[0] - px[3], py[0] - py[3]) + std::hypot(px[1] - px[2], py[1] - py[2]);
            length = std::min(a, b);
        }
        along[static_cast<size_t>(blocks.column[x])] += length;
    });
    Tally* row = tallies + static_cast<size_t>(blocks.row[static_cast<size_t>(y)]) * blocks.across;
    for (int b = 0; b < blocks.across; ++b)
        row[b].length += along[b];
}

// Each block's pixels, black pixels and cells (pixels with a right and a lower neighbour) of one
// row. A block's columns are one run, so the row adds whole-number counts per run (exact sums, as
// adding one pixel at a time would give).
class RowTallies {
public:
    RowTallies(const Blocks& blocks, int w, int h)
        : blocks_(blocks), w_(w), h_(h), runEnd_(blocks.across, 0) {
        for (int x = 0; x < w; ++x)
            runEnd_[static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] = x + 1;
    }
    void add(const uint8_t* black, int y, Tally* tallies) const {
        Tally* line = tallies + static_cast<size_t>(blocks_.row[static_cast<size_t>(y)]) * blocks_.across;
        for (int k = 0, x0 = 0; k < blocks_.across; ++k) {
            const int x1 = std::max(x0, runEnd_[static_cast<size_t>(k)]);
            int64_t dark = 0;
            for (int x = x0; x < x1; ++x)
                dark += black[x];
            line[k].black += static_cast<double>(dark);
            line[k].pixels += x1 - x0;
            if (y + 1 < h_) line[k].cells += std::min(x1, w_ - 1) - std::min(x0, w_ - 1);
            x0 = x1;
        }
    }

private:
    const Blocks& blocks_;
    int w_, h_;
    std::vector<int> runEnd_;
};

} // namespace

Blocks blocksOf(int w, int h, double period) {
    Blocks b;
    auto split = [period](int n) {
        const int most = period > 0 ? static_cast<int>(n / (3 * period)) : 2;
        return std::clamp(most, 2, 8);
    };
    b.across = std::min(split(w), std::max(1, w / 2)), b.down = std::min(split(h), std::max(1, h / 2));
    b.column.resize(static_cast<size_t>(std::max(w, 0)));
    b.row.resize(static_cast<size_t>(std::max(h, 0)));
    for (int x = 0; x < w; ++x)
        b.column[static_cast<size_t>(x)] = static_cast<int>(static_cast<int64_t>(x) * b.across / w);
    for (int y = 0; y < h; ++y)
        b.row[static_cast<size_t>(y)] = static_cast<int>(static_cast<int64_t>(y) * b.down / h);
    return b;
}

void Levels::add(const float* v, const uint8_t* black, size_t n) {
    // Each sum in a register of its own, the other colour's pixels adding nothing to it (the sums
    // start at +0, so adding 0 leaves them as they are).
    double white = sum[0], dark = sum[1];
    int64_t blacks = 0;
    for (size_t i = 0; i < n; ++i) {
        const double g = v[i];
        white += black[i] ? 0.0 : g, dark += black[i] ? g : 0.0, blacks += black[i];
    }
    sum[0] = white, sum[1] = dark, count[1] += blacks, count[0] += static_cast<int64_t>(n) - blacks;
}

double Levels::contrast() const {
    return count[0] > 0 && count[1] > 0
               ? sum[0] / static_cast<double>(count[0]) - sum[1] / static_cast<double>(count[1])
               : 0;
}

std::vector<Tally> stereologyOf(const Image& smooth, double t, const std::vector<uint8_t>& black,
                                const Blocks& blocks, Levels* levels) {
    std::vector<Tally> tallies(static_cast<size_t>(blocks.count()));
    const int w = smooth.width, h = smooth.height;
    const RowTallies counts(blocks, w, h);
    ContourRow room(blocks, w);
    // Row by row, each row's pixels and its cells with the row below, while it is in the cache.
    for (int y = 0; y < h; ++y) {
        const float* row = smooth.px.data() + static_cast<size_t>(y) * w;
        const uint8_t* dark = black.data() + static_cast<size_t>(y) * w;
        counts.add(dark, y, tallies.data());
        if (levels) levels->add(row, dark, static_cast<size_t>(w));
        if (y + 1 < h) unwinding<&contourRowWide>(row, row + w, w, y, t, blocks, tallies.data(), room);
    }
    return tallies;
}

std::vector<Tally> stereologyOfBlurred(const Image& g, double sigma, double t, const Blocks& blocks) {
    const int w = g.width, h = g.height;
    if (sigma > kWidestSampledGaussian) { // a box blur is not made row by row
        const Image blurred{w, h, blur(g, sigma)};
        std::vector<uint8_t> black(blurred.px.size());
        for (size_t i = 0; i < black.size(); ++i)
            black[i] = blurred.px[i] < t;
        return stereologyOf(blurred, t, black, blocks);
    }
    std::vector<Tally> tallies(static_cast<size_t>(blocks.count()));
    const RowTallies counts(blocks, w, h);
    const float* above = nullptr; // the row before, still where the blur made it
    std::vector<uint8_t> black(static_cast<size_t>(w));
    ContourRow room(blocks, w);
    unwinding<&blurRowsWide>(
        g, sigma,
        [&](int y, const float* row) {
            uint8_t* dark = black.data(); // a byte stored could alias the vector's own pointer
            for (int x = 0; x < w; ++x)
                dark[x] = row[x] < t;
            counts.add(black.data(), y, tallies.data());
            if (y > 0) unwinding<&contourRowWide>(above, row, w, y - 1, t, blocks, tallies.data(), room);
            above = row;
        },
        nullptr);
    return tallies;
}

std::vector<BlockReading> blockMap(const Blocks& blocks, const std::vector<Tally>& tallies,
                                   const std::vector<double>& blockSigma, const std::vector<bool>& odd,
                                   double toNoBlur, const Rect& area) {
    // Each block's columns and rows are one run: its first and its last.
    auto spans = [](const std::vector<int>& of, int n) {
        std::vector<std::pair<int, int>> s(static_cast<size_t>(n), {0, 0});
        for (size_t i = of.size(); i-- > 0;)
            s[static_cast<size_t>(of[i])].first = static_cast<int>(i);
        for (size_t i = 0; i < of.size(); ++i)
            s[static_cast<size_t>(of[i])].second = static_cast<int>(i) + 1;
        return s;
    };
    const auto columns = spans(blocks.column, blocks.across), rows = spans(blocks.row, blocks.down);
    std::vector<BlockReading> map;
    map.reserve(tallies.size());
    for (size_t k = 0; k < tallies.size(); ++k) {
        const auto& [x1, x2] = columns[k % static_cast<size_t>(blocks.across)];
        const auto& [y1, y2] = rows[k / static_cast<size_t>(blocks.across)];
        BlockReading b;
        b.rect = Rect{area.x1 + x1, area.y1 + y1, area.x1 + x2, area.y1 + y2};
        const Tally& t = tallies[k];
        if (t.cells > 0 && t.length > 0) b.periodPx = 2 * t.cells / (t.length * toNoBlur);
        if (k < blockSigma.size() && blockSigma[k] >= 0) b.blurPx = blockSigma[k];
        b.odd = k < odd.size() && odd[k];
        map.push_back(b);
    }
    return map;
}

Tally total(const std::vector<Tally>& tallies, int without) {
    Tally sum;
    for (size_t k = 0; k < tallies.size(); ++k)
        if (static_cast<int>(k) != without)
            sum.black += tallies[k].black, sum.pixels += tallies[k].pixels, sum.length += tallies[k].length,
                sum.cells += tallies[k].cells;
    return sum;
}

} // namespace tovra::measure::detail

namespace tovra::measure::detail {

NoBlur lengthAtNoBlur(const double (&s)[3], const double (&perArea)[3]) {
    // Smoothing shortens a wall most where it bends most, and the bends go first: the length
    // falls with the blur's variance steeply at first and then less. Near saddles of the pattern,
    // where two domains of one colour nearly meet, the walls bend sharply, and a straight line in
    // the variance through two blurs leaves a labyrinth's walls short by about 1 %. The length is
    // taken as L0 - a s / (1 + b s) through all three, the curvature b between none (the line)
    // and 1 / s2 (twice the line's correction).
    NoBlur n;
    const double l1 = perArea[0], l2 = perArea[1], l3 = perArea[2];
    if (!(l1 > 0 && l2 > 0) || !(s[0] < s[1])) return n;
    const double line = (l1 - l2) / l1 * s[0] / (s[1] - s[0]);
    n.line = n.curve = 1 + line;
    if (!(l3 > 0) || !(s[1] < s[2])) return n; // no third length: the line alone
    // Walls that only shorten where they bend slow their fall gently: the first step falls at
    // most 0.7 % of the length beyond the second step's rate, on labyrinths of every kind. A fall
    // that stops short after the first step is the domains' necks closing under the smoothing:
    // length lost with whole pieces of wall, which no curve in the blur takes back.
    n.pinched = l1 > l2 && ((l1 - l2) - (l2 - l3) * (s[1] - s[0]) / (s[2] - s[1])) / l1 >= kPinched;
    double b = 0;
    if (l1 > l2 && l2 > l3) {
        // (l1 - l2) / (l2 - l3) = (s2 - s1) (1 + b s3) / ((s3 - s2) (1 + b s1))
        const double q = (l1 - l2) / (l2 - l3) * (s[2] - s[1]) / (s[1] - s[0]);
        b = s[2] - q * s[0] > 0 ? (q - 1) / (s[2] - q * s[0]) : 1 / s[1];
        b = std::clamp(b, 0.0, 1 / s[1]);
    }
    n.curve = 1 + line * (1 + b * s[1]);
    return n;
}

Stereology stereologyFrom(const Tally& t) {
    Stereology s;
    if (!(t.pixels > 0 && t.cells > 0 && t.length > 0)) return s;
    s.fraction = t.black / t.pixels;
    s.perArea = t.length / t.cells;
    s.black = 2 * s.fraction / s.perArea, s.white = 2 * (1 - s.fraction) / s.perArea;
    return s;
}

std::optional<std::string> measureStereology(Result& r, Frame& f) {
    // Area fraction and wall length, block by block. Smoothing by sigma moves a curved wall toward
    // its centre of curvature by sigma^2 times the curvature over two, which takes pi sigma^2 from
    // every black domain's area and gives it to every white domain inside black (the wall turns
    // once around each; for a domain the border cuts, about half way): the area is corrected by
    // that sum. The wall length falls too: it is measured again on the picture smoothed twice
    // more and taken to no blur at all. The standard errors come from the jackknife, each block
    // left out in turn; the allowances for the two corrections are set apart from them.
    const Spectrum& s = f.spectrum;
    const Domains& domains = f.domains;
    const std::vector<uint8_t>& black = f.black;
    f.blocks = blocksOf(f.width(), f.height(), s.ok ? s.period : 0);
    const Blocks& blocks = f.blocks;
    if (r.bubbles) {
        bubbleErrors(*r.bubbles, domains.items, blocks, f.width(), f.height());
        r.bubbles->order = latticeOrder(r.bubbles->items, f.width(), f.height(), blocks);
    }
    f.first = stereologyOf(f.smooth, r.threshold, black, blocks, &f.levels);
    const std::vector<Tally>& first = f.first;
    if (!(total(first).length > 0)) return "no domain walls found";
    const double turns = domains.blackInside - domains.whiteInside +
                         0.5 * (domains.black - domains.blackInside - domains.white + domains.whiteInside);
    // The blur in all: the optics' (from the walls' grey profile) and the program's smoothing.
    // Where the noise is strong against the contrast its grain lengthens the walls more at the
    // lighter smoothing and the two lengths no longer show the blur alone: the walls are then taken
    // as measured, as without an estimate.
    std::vector<double> blockLength;
    blockLength.reserve(first.size());
    for (const Tally& t : first)
        blockLength.push_back(t.length);
    OpticsBlur optics = opticsBlur(f.unfiltered, black, blocks, blockLength);
    if (!(f.levels.contrast() > kClearWalls * f.noise)) optics.ok = false;
    if (optics.ok) r.blurPx = optics.sigma;
    const double blurred = (optics.ok ? optics.sigma * optics.sigma : 0) + kSmoothing * kSmoothing;
    const double shift = kPi * blurred * turns / static_cast<double>(black.size());
    const Stereology at = stereologyFrom(total(first));
    // The wall length at the smoothings kSmoothing, kSmoother and kSmoothest on top of the optics,
    // taken to no blur at all. Where the optics' blur is not known the length stays as measured.
    // The heavier two stay within the resolution: the whole blur at most a third of the narrower
    // domains' width, past which their necks close and the length falls for that, not for the
    // walls' bends. What they add to the first smoothing's variance shrinks for both alike, to
    // 0.4 at least.
    const double lightest = kSmoothing * kSmoothing, optical = blurred - lightest;
    const double room = std::pow(std::min(at.black, at.white) / kResolved, 2) - optical;
    const double share = std::clamp((room - lightest) / (kSmoothest * kSmoothest - lightest), 0.4, 1.0);
    const double smoother = std::sqrt(lightest + share * (kSmoother * kSmoother - lightest)),
                 smoothest = std::sqrt(lightest + share * (kSmoothest * kSmoothest - lightest));
    const std::vector<Tally> second = stereologyOfBlurred(f.unfiltered, smoother, r.threshold, blocks);
    if (!(total(second).length > 0)) return "no domain walls found";
    const Stereology again = stereologyFrom(total(second));
    const std::vector<Tally> third =
        optics.ok ? stereologyOfBlurred(f.unfiltered, smoothest, r.threshold, blocks) : std::vector<Tally>{};
    const NoBlur noBlur =
        lengthAtNoBlur({blurred, optical + smoother * smoother, optical + smoothest * smoothest},
                       {at.perArea, again.perArea, stereologyFrom(total(third)).perArea});
    const double toNoBlur = optics.ok ? noBlur.curve : 1;
    // The necks' test was set on the full smoothings' steps; lighter ones sample the fall's steep
    // start, where walls that only shorten fall faster first.
    f.evidence.pinched = optics.ok && noBlur.pinched && share >= 1;
    auto corrected = [&](int without) {
        Stereology a = stereologyFrom(total(first, without));
        if (!(a.perArea > 0)) return a; // a block set without walls: no widths to correct
        a.perArea *= toNoBlur;
        a.fraction = std::clamp(a.fraction + shift, 0.0, 1.0);
        a.black = 2 * a.fraction / a.perArea, a.white = 2 * (1 - a.fraction) / a.perArea;
        return a;
    };
    const Stereology whole = corrected(-1);
    r.blocks = blocks.count();
    r.blackFraction = whole.fraction;
    r.blackWidthPx = whole.black, r.whiteWidthPx = whole.white, r.periodPx = whole.black + whole.white;
    std::vector<Stereology> leftOut(static_cast<size_t>(r.blocks));
    for (int k = 0; k < r.blocks; ++k)
        leftOut[static_cast<size_t>(k)] = corrected(k);
    auto without = [&](int k) -> const Stereology& { return leftOut[static_cast<size_t>(k)]; };
    r.blackFractionSe = jackknife(r.blocks, [&](int k) { return without(k).fraction; });
    r.blackWidthSePx = jackknife(r.blocks, [&](int k) { return without(k).black; });
    r.whiteWidthSePx = jackknife(r.blocks, [&](int k) { return without(k).white; });
    r.periodSePx = jackknife(r.blocks, [&](int k) { return without(k).black + without(k).white; });
    // The allowances. For the area a quarter of its correction (the walls' move is the first term
    // in the curvature; on generated labyrinths what is left is under a tenth of it), and for
    // each domain the border cuts the half turn it may take or not, added in quadrature. For the
    // length a quarter of its correction and what the curve added to the straight line (the
    // curve's form is a model), or where the optics' blur is not known the whole extrapolation
    // over the program's smoothing that was not made.
    const double cut = domains.black - domains.blackInside + domains.white - domains.whiteInside;
    const double areaSys = std::hypot(std::fabs(shift) / 4, kPi * blurred * 0.5 * std::sqrt(cut) /
                                                                static_cast<double>(black.size()));
    const double areaShift = whole.perArea > 0 ? 2 * areaSys / whole.perArea : 0; // in width
    const double lengthSys =
        optics.ok ? std::hypot((toNoBlur - 1) / 4, noBlur.curve - noBlur.line) : std::fabs(noBlur.line - 1);
    r.blackFractionSys = areaSys;
    r.blackWidthSysPx = std::hypot(areaShift, whole.black * lengthSys);
    r.whiteWidthSysPx = std::hypot(areaShift, whole.white * lengthSys);
    r.periodSysPx = r.periodPx * lengthSys;
    Evidence& e = f.evidence;
    e.clipping = f.clipping;
    e.defects = defectShare(f.unfiltered, black, f.noise);
    const std::vector<bool> odd = oddBlocks(first, optics.blockSigma);
    e.uneven = std::find(odd.begin(), odd.end(), true) != odd.end();
    r.blockMap = blockMap(blocks, first, optics.blockSigma, odd, toNoBlur, r.area);
    e.noiseRatio = noiseRatio(f.unfiltered, black, static_cast<int>(std::ceil(2 * std::sqrt(blurred))));
    // At least four pixels: the walls' curvature closer than that lowers the dark colour's skew.
    e.darkSkew =
        darkSkew(f.unfiltered, black, std::max(4, static_cast<int>(std::ceil(2 * std::sqrt(blurred)))));
    e.widthChange =
        std::max(std::fabs(again.black - at.black) / at.black, std::fabs(again.white - at.white) / at.white);
    e.domainsInside = domains.blackInside + domains.whiteInside;
    e.contrastToNoise = f.noise > 0 ? f.levels.contrast() / f.noise : 1e9;
    e.prominence = s.ok ? s.prominence : 0;
    return std::nullopt;
}

} // namespace tovra::measure::detail
