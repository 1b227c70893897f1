#include "measure.h"

#include "stages.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <sstream>

namespace tovra::measure {

using namespace detail;

std::string describe(const Settings& s) {
    std::ostringstream o;
    o << "median " << (s.median ? "on" : "off") << ", flat field " << (s.flatField ? "on" : "off")
      << ", threshold " << (s.otsu ? "between class means" : "mean grey") << ", specks below " << s.speckArea
      << " px removed";
    return o.str();
}

namespace {

// `given` is the image itself where the caller gave it up.
Result measureOrThrow(const Image& image, Image* given, const Image* background, std::optional<Rect> rect,
                      const Settings& settings) {
    Result r;
    auto fail = [&](const std::string& why) {
        Result e;
        e.error = why;
        e.width = r.width, e.height = r.height;
        return e;
    };
    if (image.width <= 0 || image.height <= 0 ||
        image.px.size() != static_cast<size_t>(image.width) * image.height)
        return fail("the image is empty");
    Rect area = rect.value_or(Rect{0, 0, image.width, image.height});
    area.x1 = std::clamp(area.x1, 0, image.width), area.x2 = std::clamp(area.x2, 0, image.width);
    area.y1 = std::clamp(area.y1, 0, image.height), area.y2 = std::clamp(area.y2, 0, image.height);
    if (area.x2 - area.x1 < 16 || area.y2 - area.y1 < 16)
        return fail("the rectangle holds less than 16 x 16 pixels");
    const bool sameSize = background && background->width == image.width &&
                          background->height == image.height && background->px.size() == image.px.size();
    const Magnitude m = magnitudeOf(image, area);
    const Magnitude mb =
        background ? magnitudeOf(*background, sameSize ? area : Rect{0, 0, 0, 0}) : Magnitude{};
    if (!m.finite || !mb.finite) return fail("the image holds values that are not numbers");
    r.area = area;
    r.width = area.x2 - area.x1, r.height = area.y2 - area.y1;
    if (background && !sameSize) return fail("the background image has another size");
    // The median works on whole numbers: a picture scaled 0..1 (or 0..1e-6) would come out
    // uniform, and one in millions would overflow. Every picture is measured scaled (no offset, so
    // the light's division and the Kerr ratio keep their meaning) to largest magnitude 65535: an
    // 8-bit picture by 257, whose median is that of its own grey levels, a 16-bit one as it is.
    // The rectangle is cut out and scaled in one pass, into the picture to filter and the one
    // kept unfiltered for the bands (averaging along the walls removes the noise, unbiased).
    const double scale = workingScale(std::max(m.most, mb.most));
    Image g, b, unfiltered;
    cropScaled(image, area, scale, g, &unfiltered);
    const Clipping clipping = clippingOf(unfiltered); // before any filter moves the clipped values
    if (given) given->px = std::vector<float>();      // freed, not only emptied
    if (background) cropScaled(*background, area, scale, b, nullptr);
    if (settings.median) median(g);
    if (background) {
        // The Kerr contrast: the difference relative to the background, which carries the light, so
        // that the domains' contrast is the same everywhere.
        auto relative = [](float v, float bg) { return bg > 0 ? (v - bg) / bg : 0.0F; };
        for (size_t i = 0; i < g.px.size(); ++i)
            unfiltered.px[i] = relative(unfiltered.px[i], b.px[i]);
        if (settings.median) median(b);
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = relative(g.px[i], b.px[i]);
        b.px = std::vector<float>(); // freed, not only emptied
    }
    if (const auto [lo, hi] = valueRange(g.px); !(hi > lo)) return fail("the image is uniform");
    const double noise = noiseLevel(unfiltered);
    if (settings.median) unwinding<&removeImpulsesWide>(unfiltered, noise);

    Spectrum s = spectrum(g);
    if (settings.flatField && s.ok && !background) unwinding<&flatFieldWide>(unfiltered, g, 2 * s.period);
    g.px = std::vector<float>(); // what follows works on the unfiltered picture and its blurs
    // Area and wall length come from the image smoothed a little, binarized once: noise would make
    // the walls' iso-line wander and lengthen it, and single dark or bright pixels would draw loops
    // of their own; more smoothing would round the walls' bends and shorten them.
    constexpr double kSmoothing = 1.2;
    std::pair<double, double> range;
    const Image smooth{unfiltered.width, unfiltered.height, blurAndRange(unfiltered, kSmoothing, range)};
    r.threshold = settings.otsu ? unwinding<&interiorIsodataWide>(smooth, range)
                                : std::accumulate(smooth.px.begin(), smooth.px.end(), 0.0) /
                                      static_cast<double>(smooth.px.size());
    std::vector<uint8_t> black(smooth.px.size());
    auto binarize = [&] { // through plain pointers: a byte stored could alias the vectors' own
        const float* v = smooth.px.data();
        uint8_t* out = black.data();
        const double t = r.threshold;
        for (size_t i = 0; i < black.size(); ++i)
            out[i] = v[i] < t;
    };
    binarize();
    if (settings.otsu)
        if (const auto level = plateauLevel(unfiltered, black)) r.threshold = *level, binarize();
    removeSpecks(black, g.width, g.height, settings.speckArea);
    const int64_t dark = std::count(black.begin(), black.end(), 1);
    if (dark == 0 || dark == static_cast<int64_t>(black.size()))
        return fail("no domains: the image is all one colour");

    const Domains domains =
        domainsOf(black, g.width, g.height, dark < static_cast<int64_t>(black.size()) / 2, kSmoothing);
    r.blackDomains = domains.black, r.whiteDomains = domains.white;
    r.bubbles = domains.bubbles;

    // Area fraction and wall length, block by block. Smoothing by sigma moves a curved wall toward
    // its centre of curvature by sigma^2 times the curvature over two, which takes pi sigma^2 from
    // every black domain's area and gives it to every white domain inside black (the wall turns
    // once around each): the area is corrected by that sum, half of which counts as its
    // uncertainty (for a domain the border cuts the wall turns about half way). The wall length
    // moves too, and so does the noise's wander along the wall, in opposite senses: the length
    // is measured again on the picture smoothed more, and the change extrapolated in sigma^2 to
    // no smoothing counts as the length's uncertainty, not applied. Widths of domains hardly
    // change between the two; the grain of noise grows with the smoothing. The standard errors
    // come from the jackknife, each block left out in turn.
    constexpr double kSmoother = 2.0;
    const Blocks blocks = blocksOf(g.width, g.height, s.ok ? s.period : 0);
    if (r.bubbles) bubbleErrors(*r.bubbles, domains.items, blocks, g.width, g.height);
    Levels levels; // of the domains, for their contrast
    const std::vector<Tally> first = stereologyOf(smooth, r.threshold, black, blocks, &levels);
    const std::vector<Tally> second = stereologyOfBlurred(unfiltered, kSmoother, r.threshold, blocks);
    if (!(total(first).length > 0 && total(second).length > 0)) return fail("no domain walls found");
    const double turns = domains.blackInside - domains.whiteInside +
                         0.5 * (domains.black - domains.blackInside - domains.white + domains.whiteInside);
    // The blur in all: the optics' (from the walls' grey profile) and the program's smoothing.
    // Where the noise is strong against the contrast its grain lengthens the walls more at the
    // lighter smoothing and the two lengths no longer show the blur alone: the walls are then taken
    // as measured, as without an estimate.
    std::vector<double> blockLength;
    for (const Tally& t : first)
        blockLength.push_back(t.length);
    OpticsBlur optics = opticsBlur(unfiltered, black, blocks, blockLength);
    if (!(levels.contrast() > kClearWalls * noise)) optics.ok = false;
    if (optics.ok) r.blurPx = optics.sigma;
    const double blurred = (optics.ok ? optics.sigma * optics.sigma : 0) + kSmoothing * kSmoothing;
    const double shift = kPi * blurred * turns / static_cast<double>(black.size());
    const Stereology at = stereologyFrom(total(first)), again = stereologyFrom(total(second));
    // The wall length falls about in proportion to the blur's variance; from its two values, at
    // the smoothings kSmoothing and kSmoother on top of the optics, it is taken to no blur at all.
    // Where the optics' blur is not known the length stays as measured.
    const double lengthChange = 1 - again.perArea / at.perArea;
    const double toNoBlur =
        optics.ok ? 1 + lengthChange * blurred / (kSmoother * kSmoother - kSmoothing * kSmoothing) : 1;
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
    // The allowances: half the area's correction, and a quarter of the length's (its linear
    // extrapolation over a blur's variance), or where the optics' blur is not known the whole
    // extrapolation that was not made.
    const double areaShift = whole.perArea > 0 ? shift / 2 / whole.perArea : 0; // in width
    const double lengthSys = std::fabs(optics.ok ? (toNoBlur - 1) / 4
                                                 : lengthChange * kSmoothing * kSmoothing /
                                                       (kSmoother * kSmoother - kSmoothing * kSmoothing));
    r.blackFractionSys = std::fabs(shift) / 2;
    r.blackWidthSysPx = std::hypot(areaShift, whole.black * lengthSys);
    r.whiteWidthSysPx = std::hypot(areaShift, whole.white * lengthSys);
    r.periodSysPx = r.periodPx * lengthSys;
    Evidence e;
    e.clipping = clipping;
    e.defects = defectShare(unfiltered, black, noise);
    e.uneven = uneven(first, optics.blockSigma);
    e.widthChange =
        std::max(std::fabs(again.black - at.black) / at.black, std::fabs(again.white - at.white) / at.white);
    e.domainsInside = domains.blackInside + domains.whiteInside;
    e.contrastToNoise = noise > 0 ? levels.contrast() / noise : 1e9;
    e.prominence = s.ok ? s.prominence : 0;

    if (s.ok) {
        r.periodFftPx = s.period;
        r.anisotropy = s.anisotropy;
        r.orientationDeg = std::atan(std::tan((s.normalDeg + 90) * kPi / 180)) * 180 / kPi;
    }
    r.pattern = domains.bubbles ? "bubbles" : "maze";
    // Stripes' widths are their runs across, by definition: what 2 area / wall length gives for
    // wavy stripes is another quantity, not an error of the runs, so it adds no allowance.
    auto takeRuns = [&](const Runs& runs) {
        const double across = runs.mean(1) + runs.mean(0);
        r.pattern = "stripes";
        r.bubbles.reset();
        r.blackWidthSePx = jackknife(r.blocks, [&](int k) { return runs.mean(1, k); });
        r.whiteWidthSePx = jackknife(r.blocks, [&](int k) { return runs.mean(0, k); });
        r.periodSePx = jackknife(r.blocks, [&](int k) { return runs.mean(1, k) + runs.mean(0, k); });
        r.blackWidthPx = runs.mean(1), r.whiteWidthPx = runs.mean(0), r.periodPx = across;
        // The walls' places, found by interpolating the grey level between pixels, are good to
        // about kWallPlace of a pixel each and to kWallShape of the width for the blur's shape
        // around the threshold: a run has two walls, and so has a period.
        auto place = [](double width) { return 2 * kWallPlace + kWallShape * width; };
        r.blackWidthSysPx = place(r.blackWidthPx), r.whiteWidthSysPx = place(r.whiteWidthPx);
        r.periodSysPx = place(r.periodPx);
    };
    if (!domains.bubbles && s.ok && s.anisotropy > 0.5) {
        // Stripes only where the walls are straight: the runs across them along the normal, the
        // stereology and the spectrum give one period. Runs across curved walls are longer than
        // the walls are apart.
        double normal = s.normalDeg;
        std::vector<Band> bands = bandsOf(unfiltered, smooth, black, r.threshold, noise, s.normalDeg, normal);
        if (const auto runs = runsAlongNormal(smooth, r.threshold, normal, blocks)) {
            const double across = runs->mean(1) + runs->mean(0);
            e.runsOverStereology = across / r.periodPx;
            e.waveOverRuns = s.wavePeriod / across;
            if (std::fabs(e.runsOverStereology - 1) < kStraight &&
                std::fabs(e.waveOverRuns - 1) < kStraight) {
                takeRuns(*runs);
                r.bands = std::move(bands);
                r.walls = r.bands.empty() ? 0 : static_cast<int>(r.bands.size()) + 1;
                r.orientationDeg = std::atan(std::tan((normal + 90) * kPi / 180)) * 180 / kPi;
                r.periodFftPx = s.wavePeriod;
            }
        }
    }
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
            for (int c = 0; c < 2; ++c)
                all.sum[c].assign(static_cast<size_t>(r.blocks), 0.0), all.count[c] = all.sum[c];
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
                const auto runs = runsAlongNormal(smooth, r.threshold, map.normalDeg[k], blocks, &mask);
                straight = runs && st.black > 0 &&
                           std::fabs((runs->mean(1) + runs->mean(0)) / (st.black + st.white) - 1) < kStraight;
                if (!straight) break;
                for (int c = 0; c < 2; ++c)
                    for (size_t j = 0; j < all.sum[c].size(); ++j)
                        all.sum[c][j] += runs->sum[c][j], all.count[c][j] += runs->count[c][j];
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
                takeRuns(all);
                r.grains = map.grains;
                r.grainOf = std::move(pixels);
                r.walls = bands.empty() ? 0 : r.walls + static_cast<int>(bands.size());
                r.bands = std::move(bands);
            } else {
                r.walls = 0;
            }
        }
    }
    // The spectrum looks for periods up to a third of the picture's smaller side; a longer one
    // it cannot show, and what it found is then a harmonic.
    if (3 * r.periodPx > std::min(r.width, r.height)) r.periodFftPx = 0;
    r.periodsAcross = std::min(r.width, r.height) / r.periodPx;
    const double wholeBlur = std::sqrt((r.blurPx ? *r.blurPx * *r.blurPx : 0) + kSmoothing * kSmoothing);
    e.belowResolution = std::min(r.blackWidthPx, r.whiteWidthPx) < kResolved * wholeBlur;
    judge(r, e);
    if (!background) r.threshold /= scale; // in the picture's own grey levels
    r.black = std::move(black);
    return r;
}

Result measureOrSay(const Image& image, Image* given, const Image* background, std::optional<Rect> rect,
                    const Settings& settings) {
    Result r;
    try {
        return measureOrThrow(image, given, background, rect, settings);
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to measure this image";
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    r.width = image.width, r.height = image.height;
    return r;
}

} // namespace

Result measure(const Image& image, const Image* background, std::optional<Rect> rect,
               const Settings& settings) {
    return measureOrSay(image, nullptr, background, rect, settings);
}

Result measure(Image&& image, const Image* background, std::optional<Rect> rect, const Settings& settings) {
    return measureOrSay(image, &image, background, rect, settings);
}

} // namespace tovra::measure
