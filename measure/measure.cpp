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

// The measurement's steps. `given` is the image itself where the caller gave it up.
Result measureOrThrow(const Image& image, Image* given, const Image* background, std::optional<Rect> rect,
                      const Settings& settings) {
    Result r;
    Frame f;
    auto failed = [&](const std::string& why) {
        Result e;
        e.error = why;
        e.width = r.width, e.height = r.height, e.level = r.level;
        return e;
    };
    // The rectangle prepared and binarized; its stereology by block, the blur taken out.
    if (const auto why = prepare(image, given, background, rect, settings, r, f)) return failed(*why);
    if (const auto why = binarizeFrame(settings, r, f)) return failed(*why);
    if (const auto why = measureStereology(r, f)) return failed(*why);
    // What the spectrum shows, and the pattern: bubbles or a maze, unless the walls are straight.
    const Spectrum& s = f.spectrum;
    if (s.ok) {
        r.periodFftPx = s.period;
        r.anisotropy = s.anisotropy;
        r.orientationDeg = std::atan(std::tan((s.normalDeg + 90) * kPi / 180)) * 180 / kPi;
    }
    r.pattern = f.domains.bubbles ? "bubbles" : "maze";
    findStraightStripes(r, f);
    findStripesInGrains(r, f);
    // The spectrum looks for periods up to a third of the picture's smaller side; a longer one
    // it cannot show, and what it found is then a harmonic.
    if (3 * r.periodPx > std::min(r.width, r.height)) r.periodFftPx = 0;
    r.periodsAcross = std::min(r.width, r.height) / r.periodPx;
    // Where the walls' profile did not tell the optics' blur (domains too narrow for insides of
    // their own, or too faint), it is taken as wide as the program's smoothing: narrow domains
    // under an unknown blur are not trusted.
    const double optics = r.blurPx ? *r.blurPx : kSmoothing;
    const double wholeBlur = std::sqrt(optics * optics + kSmoothing * kSmoothing);
    // Necks that closed under the smoothing say the same of a maze's narrowest parts (straight
    // stripes' walls hardly shorten, and their lengths' small falls bend the curve any way).
    f.evidence.belowResolution = std::min(r.blackWidthPx, r.whiteWidthPx) < kResolved * wholeBlur ||
                                 (f.evidence.pinched && r.pattern != "stripes");
    judge(r, f.evidence);
    const double unit = background ? 1 : f.scale; // the picture's own grey levels
    if (f.levels.count[0] > 0 && f.levels.count[1] > 0) {
        r.whiteLevel = f.levels.sum[0] / static_cast<double>(f.levels.count[0]) / unit;
        r.blackLevel = f.levels.sum[1] / static_cast<double>(f.levels.count[1]) / unit;
    }
    if (!background) r.threshold /= f.scale; // in the picture's own grey levels
    if (r.bubbles) {                         // the bubbles' places in the picture's coordinates
        for (Bubble& b : r.bubbles->items)
            b.x += r.area.x1, b.y += r.area.y1;
        if (r.bubbles->order)
            for (LatticeOrder::Place& p : r.bubbles->order->dislocations)
                p.x += r.area.x1, p.y += r.area.y1;
    }
    r.black = std::move(f.black);
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
