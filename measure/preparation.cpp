// Preparing a picture for measurement: cropping, the value scale, the 3 x 3 median, the Gaussian
// blur, the light divided out, the noise level, and single bright or dark pixels removed.
#include "stages.h"

#include "common/median.h"
#include "quarnk.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>

namespace tovra::measure::detail {

Image crop(const Image& in, const Rect& r) {
    Image out;
    out.width = r.x2 - r.x1;
    out.height = r.y2 - r.y1;
    out.px.resize(static_cast<size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(in.px.begin() + static_cast<size_t>(y + r.y1) * in.width + r.x1, out.width,
                    out.px.begin() + static_cast<size_t>(y) * out.width);
    return out;
}

// The kernels' 3 x 3 recursive median, on the picture's single-precision values themselves.
void median(Image& g) {
    quarnk::recursiveMedian(g.width, g.height, g.px.data());
}

// The least and the greatest value, in eight lanes that the processor runs side by side.
std::pair<double, double> valueRange(const float* v, size_t n) {
    if (n == 0) return {0, 0};
    float lo[8], hi[8];
    std::fill_n(lo, 8, v[0]), std::fill_n(hi, 8, v[0]);
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 8; ++k)
            lo[k] = std::min(lo[k], v[i + k]), hi[k] = std::max(hi[k], v[i + k]);
    for (; i < n; ++i)
        lo[0] = std::min(lo[0], v[i]), hi[0] = std::max(hi[0], v[i]);
    return {*std::min_element(lo, lo + 8), *std::max_element(hi, hi + 8)};
}

// A running box mean of width 2 radius + 1 down each column, all columns at once: a running sum
// of whole rows, borders mirrored.
TOVRA_WIDE_VECTORS void boxColumnsWide(const std::vector<float>& in, std::vector<float>& out, int w, int h,
                                       int radius) {
    const float scale = 1.0F / static_cast<float>(2 * radius + 1);
    std::vector<float> sum(static_cast<size_t>(w), 0.0F);
    auto row = [&](int y) { return in.data() + static_cast<size_t>(mirror(y, h)) * w; };
    for (int i = -radius; i <= radius; ++i) {
        const float* r = row(i);
        for (int x = 0; x < w; ++x)
            sum[x] += r[x];
    }
    for (int y = 0; y < h; ++y) {
        float* dst = out.data() + static_cast<size_t>(y) * w;
        const float *add = row(y + radius + 1), *drop = row(y - radius);
        for (int x = 0; x < w; ++x) {
            dst[x] = sum[x] * scale;
            sum[x] += add[x] - drop[x];
        }
    }
}

// `in` (w x h) turned over its diagonal into `out` (h x w), in tiles that stay in the cache.
void transpose(const std::vector<float>& in, std::vector<float>& out, int w, int h) {
    constexpr int kTile = 32;
    for (int y0 = 0; y0 < h; y0 += kTile)
        for (int x0 = 0; x0 < w; x0 += kTile)
            for (int y = y0; y < std::min(h, y0 + kTile); ++y)
                for (int x = x0; x < std::min(w, x0 + kTile); ++x)
                    out[static_cast<size_t>(x) * h + y] = in[static_cast<size_t>(y) * w + x];
}

// Each row copied with `radius` mirrored values on either side, so that a filter along the row
// reads padded[x .. x + 2 radius] for pixel x without a test at the borders.
void padRow(const float* row, int w, int radius, std::vector<float>& padded) {
    padded.resize(static_cast<size_t>(w) + 2 * static_cast<size_t>(radius));
    // The row itself is copied as it is; only the margins are mirrored.
    std::copy(row, row + w, padded.begin() + radius);
    for (int i = 0; i < radius; ++i) {
        padded[i] = row[mirror(i - radius, w)];
        padded[w + radius + i] = row[mirror(w + i, w)];
    }
}

// A Gaussian blur of standard deviation sigma, borders mirrored. Narrow blurs convolve with the
// sampled Gaussian out to three sigma; wide ones, where that would cost too much, repeat a box
// mean three times (whose variance is the Gaussian's, to within the box's whole-pixel radius):
// down the columns, then, turned over, down the rows.
TOVRA_WIDE_VECTORS std::vector<float> blurWide(const Image& g, double sigma) {
    const int w = g.width, h = g.height;
    if (sigma > kWidestSampledGaussian) {
        const int radius =
            std::max(1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
        std::vector<float> a = g.px, b(a.size());
        for (int pass = 0; pass < 3; ++pass) {
            unwinding<&boxColumnsWide>(a, b, w, h, radius);
            std::swap(a, b);
        }
        transpose(a, b, w, h);
        for (int pass = 0; pass < 3; ++pass) {
            unwinding<&boxColumnsWide>(b, a, h, w, radius);
            std::swap(a, b);
        }
        transpose(b, a, h, w);
        return a;
    }
    std::vector<float> out(g.px.size());
    unwinding<&blurRowsWide>(
        g, sigma, [](int, const float*) {}, out.data());
    return out;
}

std::vector<float> blurAndRange(const Image& g, double sigma, std::pair<double, double>& range) {
    if (sigma > kWidestSampledGaussian || g.px.empty()) {
        std::vector<float> out = blur(g, sigma);
        range = valueRange(out);
        return out;
    }
    std::vector<float> out(g.px.size());
    range = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    unwinding<&blurRowsWide>(
        g, sigma,
        [&](int, const float* row) { // each row while it is in the cache
            const auto [lo, hi] = valueRange(row, static_cast<size_t>(g.width));
            range = {std::min(range.first, lo), std::max(range.second, hi)};
        },
        out.data());
    return out;
}

// The sampled Gaussian out to three sigma, row by row: down the columns into one row, then along
// it from a padded copy of it, handed on before the next.
TOVRA_WIDE_VECTORS void blurRowsWide(const Image& g, double sigma, const RowSink& sink, float* whole) {
    const int w = g.width, h = g.height;
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<float> kernel(2 * radius + 1);
    for (int i = -radius; i <= radius; ++i)
        kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
    const float total = std::accumulate(kernel.begin(), kernel.end(), 0.0F);
    for (float& k : kernel)
        k /= total;
    std::vector<float> turns(whole ? 0 : 2 * static_cast<size_t>(w)), padded;
    for (int y = 0; y < h; ++y) {
        float* dst =
            whole ? whole + static_cast<size_t>(y) * w : turns.data() + static_cast<size_t>(y % 2) * w;
        // The kernel is even: each pair of taps at +i and -i is added before it is weighed.
        const float* mid = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x)
            dst[x] = kernel[radius] * mid[x];
        for (int i = 1; i <= radius; ++i) {
            const float k = kernel[radius + i];
            const float* above = g.px.data() + static_cast<size_t>(mirror(y - i, h)) * w;
            const float* below = g.px.data() + static_cast<size_t>(mirror(y + i, h)) * w;
            for (int x = 0; x < w; ++x)
                dst[x] += k * (above[x] + below[x]);
        }
        padRow(dst, w, radius, padded);
        const float* centre = padded.data() + radius;
        for (int x = 0; x < w; ++x)
            dst[x] = kernel[radius] * centre[x];
        for (int i = 1; i <= radius; ++i) {
            const float k = kernel[radius + i];
            for (int x = 0; x < w; ++x)
                dst[x] += k * (centre[x - i] + centre[x + i]);
        }
        sink(y, dst);
    }
}

// Light multiplies what the sample shows: `target` divided by the light (or, where the light
// reaches zero or below, the light subtracted), scaled to keep its mean level. The light is
// `source` blurred by `sigma`; it varies slowly, so it is blurred on a picture made k times
// smaller by block means (k about a quarter of sigma) and spread back bilinearly.
//
// A blur of the picture carries the pattern wherever the window holds more of one colour than on
// average: at the border, where the mirrored half repeats the pattern's phase, and over parts of
// unequal black fraction; walls there would move by a tenth of a pixel. So the blurred picture is
// divided by the same blur of the picture's two levels alone: each pixel at the mean level of its
// colour, the colours told apart under the first light half way between the picture's 5 % and
// 95 % points. What the pattern adds to a window then cancels, whatever the share of each colour.
TOVRA_WIDE_VECTORS void flatFieldWide(Image& target, const Image& source, double sigma) {
    const int w = source.width, h = source.height;
    const int k = std::max(1, static_cast<int>(sigma / 4));
    Image small;
    small.width = (w + k - 1) / k, small.height = (h + k - 1) / k;
    const size_t tiles = static_cast<size_t>(small.width) * small.height;
    std::vector<double> area(tiles, 0.0);
    for (int y = 0; y < h; ++y)
        for (int c = 0, x0 = 0; x0 < w; ++c, x0 += k)
            area[static_cast<size_t>(y / k) * small.width + c] += std::min(w, x0 + k) - x0;
    // The block means of value(v, light at the block) blurred on the small picture.
    auto blurredMeans = [&](auto&& value, const std::vector<float>* light) {
        std::vector<double> sums(tiles, 0.0);
        for (int y = 0; y < h; ++y) {
            const float* row = source.px.data() + static_cast<size_t>(y) * w;
            const size_t line = static_cast<size_t>(y / k) * small.width;
            // Each block's values added one by one in their order, in a register.
            for (int c = 0, x0 = 0; x0 < w; ++c, x0 += k) {
                const int x1 = std::min(w, x0 + k);
                const float at = light ? (*light)[line + c] : 1.0F;
                double sum = sums[line + c];
                for (int x = x0; x < x1; ++x)
                    sum += value(row[x], at);
                sums[line + c] = sum;
            }
        }
        small.px.resize(tiles);
        for (size_t i = 0; i < tiles; ++i)
            small.px[i] = static_cast<float>(sums[i] / area[i]);
        return small.width >= 2 && small.height >= 2 ? blur(small, sigma / k) : small.px;
    };
    const std::vector<float> first =
        blurredMeans([](float v, float) { return static_cast<double>(v); }, nullptr);
    std::vector<float> light = first;
    if (valueRange(first).first > 0) {
        std::vector<float> seen; // the picture under the first light, sampled
        const size_t step = std::max<size_t>(1, source.px.size() / 65536);
        seen.reserve(source.px.size() / step + 1);
        for (size_t i = 0; i < source.px.size(); i += step) {
            const size_t x = i % static_cast<size_t>(w), y = i / static_cast<size_t>(w);
            seen.push_back(source.px[i] / first[y / k * small.width + x / k]);
        }
        const double mid = (percentile(seen, 0.05) + percentile(seen, 0.95)) / 2;
        double sum[2] = {0, 0}, count[2] = {0, 0};
        for (float v : seen) {
            const int bright = v >= mid;
            sum[bright] += v, count[bright] += 1;
        }
        if (count[0] > 0 && count[1] > 0) {
            const float dark = static_cast<float>(sum[0] / count[0]),
                        bright = static_cast<float>(sum[1] / count[1]), cut = static_cast<float>(mid);
            const std::vector<float> levels = blurredMeans(
                [=](float v, float l) { return static_cast<double>(v >= cut * l ? bright : dark); }, &first);
            for (size_t i = 0; i < tiles; ++i)
                if (levels[i] > 0) light[i] = first[i] / levels[i];
        }
    }
    const double level = std::accumulate(light.begin(), light.end(), 0.0) / static_cast<double>(light.size());
    const bool divide = valueRange(light).first > 0;
    // Block (i, j) stands at the centre of its pixels; between centres the light is interpolated,
    // beyond the outer ones it is held.
    auto place = [k](int p, int cells, int& i, double& f) {
        const double at = std::clamp((p - (k - 1) / 2.0) / k, 0.0, static_cast<double>(cells - 1));
        i = std::min(static_cast<int>(at), std::max(0, cells - 2));
        f = at - i;
    };
    std::vector<int> xi(static_cast<size_t>(w));
    double fx = 0;
    std::vector<float> xf(static_cast<size_t>(w)), along(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x)
        place(x, small.width, xi[x], fx), xf[x] = static_cast<float>(fx);
    const int sx = small.width > 1 ? 1 : 0;
    // The two rows of blocks a row lies between, interpolated along the row once for all the rows
    // between them.
    std::vector<float> top(static_cast<size_t>(w)), bottom(static_cast<size_t>(w));
    int between = -1;
    for (int y = 0; y < h; ++y) {
        int j = 0;
        double fy = 0;
        place(y, small.height, j, fy);
        if (j != between) {
            between = j;
            const float* a = light.data() + static_cast<size_t>(j) * small.width;
            const float* b = small.height > 1 ? a + small.width : a;
            for (int x = 0; x < w; ++x) {
                const int i = xi[x];
                top[x] = a[i] + (a[i + sx] - a[i]) * xf[x], bottom[x] = b[i] + (b[i + sx] - b[i]) * xf[x];
            }
        }
        for (int x = 0; x < w; ++x)
            along[x] = top[x] + (bottom[x] - top[x]) * static_cast<float>(fy);
        float* row = target.px.data() + static_cast<size_t>(y) * w;
        if (divide)
            for (int x = 0; x < w; ++x)
                row[x] *= static_cast<float>(level) / along[x];
        else
            for (int x = 0; x < w; ++x)
                row[x] -= along[x];
    }
}

// The standard deviation of the pixels' noise: from the differences of neighbours along the
// rows (twice the noise's variance), by their median absolute value, which walls and single
// bright or dark pixels hardly move. Rows are sampled so that at most about 2^16 differences
// are sorted.
double noiseLevel(const Image& g) {
    if (g.width < 2) return 0;
    const int step = std::max(1, static_cast<int>(static_cast<int64_t>(g.width) * g.height / 65536));
    std::vector<double> d;
    for (int y = 0; y < g.height; y += step) {
        const float* row = g.px.data() + static_cast<size_t>(y) * g.width;
        for (int x = 0; x + 1 < g.width; ++x)
            d.push_back(std::fabs(row[x + 1] - row[x]));
    }
    if (d.empty()) return 0;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return 1.4826 * d[d.size() / 2] / std::sqrt(2.0);
}

// Single pixels brighter or darker than all eight neighbours by more than four times the noise
// (salt and pepper, hot pixels) take the median of those neighbours. Walls are left where they
// are, unlike under a median over every pixel.
TOVRA_WIDE_VECTORS void removeImpulsesWide(Image& g, double noise) {
    const int w = g.width, h = g.height;
    const float margin = static_cast<float>(4 * noise);
    std::vector<std::pair<size_t, float>> fixes;
    // Whole words of marks, 0 past the inner pixels.
    std::vector<uint8_t> odd((static_cast<size_t>(std::max(w, 0)) + 7) / 8 * 8);
    for (int y = 1; y + 1 < h; ++y) {
        const float *a = g.px.data() + static_cast<size_t>(y - 1) * w, *p = a + w, *b = p + w;
        for (int x = 1; x + 1 < w; ++x) { // a test without branches, for whole rows at once
            const float most = std::max(std::max(std::max(a[x - 1], a[x]), std::max(a[x + 1], p[x - 1])),
                                        std::max(std::max(p[x + 1], b[x - 1]), std::max(b[x], b[x + 1])));
            const float least = std::min(std::min(std::min(a[x - 1], a[x]), std::min(a[x + 1], p[x - 1])),
                                         std::min(std::min(p[x + 1], b[x - 1]), std::min(b[x], b[x + 1])));
            odd[x] = (p[x] > most + margin) | (p[x] < least - margin);
        }
        forEachMarked(odd.data(), odd.size(), [&](size_t x) {
            float around[8] = {a[x - 1], a[x], a[x + 1], p[x - 1], p[x + 1], b[x - 1], b[x], b[x + 1]};
            std::nth_element(around, around + 4, around + 8);
            fixes.emplace_back(static_cast<size_t>(y) * w + x,
                               (*std::max_element(around, around + 4) + around[4]) / 2);
        });
    }
    for (const auto& [i, v] : fixes)
        g.px[i] = v;
}

// Whether every value of the picture is finite, and the largest magnitude inside the rectangle,
// in one pass over the rows.
Magnitude magnitudeOf(const Image& in, const Rect& r) {
    Magnitude m;
    float most[8] = {};
    for (int y = 0; y < in.height && m.finite; ++y) {
        const float* row = in.px.data() + static_cast<size_t>(y) * in.width;
        uint32_t infinite = 0; // an exponent of all ones: an infinity or not a number
        for (int x = 0; x < in.width; ++x) {
            uint32_t bits;
            std::memcpy(&bits, row + x, sizeof bits);
            infinite |= static_cast<uint32_t>((bits & 0x7F800000u) == 0x7F800000u);
        }
        m.finite = infinite == 0;
        if (!m.finite || y < r.y1 || y >= r.y2) continue;
        int x = r.x1;
        for (; x + 8 <= r.x2; x += 8)
            for (int k = 0; k < 8; ++k)
                most[k] = std::max(most[k], std::fabs(row[x + k]));
        for (; x < r.x2; ++x)
            most[0] = std::max(most[0], std::fabs(row[x]));
    }
    m.most = *std::max_element(most, most + 8);
    return m;
}

// The factor that brings the largest magnitude of the picture (and its background) to 65535.
double workingScale(double most) {
    return most > 0 ? 65535 / most : 1;
}

// The rectangle of the picture with every value times the scale, into `out` and, when given, the
// same values into `copy` too.
void cropScaled(const Image& in, const Rect& r, double scale, Image& out, Image* copy) {
    out.width = r.x2 - r.x1;
    out.height = r.y2 - r.y1;
    out.px.resize(static_cast<size_t>(out.width) * out.height);
    if (copy) copy->width = out.width, copy->height = out.height, copy->px.resize(out.px.size());
    for (int y = 0; y < out.height; ++y) {
        const float* src = in.px.data() + static_cast<size_t>(y + r.y1) * in.width + r.x1;
        float* dst = out.px.data() + static_cast<size_t>(y) * out.width;
        for (int x = 0; x < out.width; ++x)
            dst[x] = static_cast<float>(src[x] * scale);
        if (copy) std::copy_n(dst, out.width, copy->px.data() + static_cast<size_t>(y) * out.width);
    }
}

std::optional<std::string> prepare(const Image& image, Image* given, const Image* background,
                                   std::optional<Rect> rect, const Settings& settings, Result& r, Frame& f) {
    if (image.width <= 0 || image.height <= 0 ||
        image.px.size() != static_cast<size_t>(image.width) * image.height)
        return "the image is empty";
    Rect area = rect.value_or(Rect{0, 0, image.width, image.height});
    area.x1 = std::clamp(area.x1, 0, image.width), area.x2 = std::clamp(area.x2, 0, image.width);
    area.y1 = std::clamp(area.y1, 0, image.height), area.y2 = std::clamp(area.y2, 0, image.height);
    if (area.x2 - area.x1 < 16 || area.y2 - area.y1 < 16)
        return "the rectangle holds less than 16 x 16 pixels";
    const bool sameSize = background && background->width == image.width &&
                          background->height == image.height && background->px.size() == image.px.size();
    const Magnitude m = magnitudeOf(image, area);
    const Magnitude mb =
        background ? magnitudeOf(*background, sameSize ? area : Rect{0, 0, 0, 0}) : Magnitude{};
    if (!m.finite || !mb.finite) return "the image holds values that are not numbers";
    r.area = area;
    r.width = area.x2 - area.x1, r.height = area.y2 - area.y1;
    if (background && !sameSize) return "the background image has another size";
    // The median works on whole numbers: a picture scaled 0..1 (or 0..1e-6) would come out
    // uniform, and one in millions would overflow. Every picture is measured scaled (no offset, so
    // the light's division and the Kerr ratio keep their meaning) to largest magnitude 65535: an
    // 8-bit picture by 257, whose median is that of its own grey levels, a 16-bit one as it is.
    // The rectangle is cut out and scaled in one pass, into the picture to filter and the one
    // kept unfiltered for the bands (averaging along the walls removes the noise, unbiased).
    f.scale = workingScale(std::max(m.most, mb.most));
    Image g, b;
    Image& unfiltered = f.unfiltered;
    cropScaled(image, area, f.scale, g, &unfiltered);
    f.clipping = clippingOf(unfiltered); // before any filter moves the clipped values
    if (!background)
        r.level = std::accumulate(unfiltered.px.begin(), unfiltered.px.end(), 0.0) /
                  static_cast<double>(unfiltered.px.size()) / f.scale;
    if (given) given->px = std::vector<float>(); // freed, not only emptied
    if (background) cropScaled(*background, area, f.scale, b, nullptr);
    if (settings.median) median(g);
    if (background) {
        // The Kerr contrast: the difference relative to the background, which carries the light, so
        // that the domains' contrast is the same everywhere.
        auto relative = [](float v, float bg) { return bg > 0 ? (v - bg) / bg : 0.0F; };
        for (size_t i = 0; i < g.px.size(); ++i)
            unfiltered.px[i] = relative(unfiltered.px[i], b.px[i]);
        r.level = std::accumulate(unfiltered.px.begin(), unfiltered.px.end(), 0.0) /
                  static_cast<double>(unfiltered.px.size());
        if (settings.median) median(b);
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = relative(g.px[i], b.px[i]);
        b.px = std::vector<float>(); // freed, not only emptied
    }
    if (const auto [lo, hi] = valueRange(g.px); !(hi > lo)) return "the image is uniform";
    f.noise = noiseLevel(unfiltered);
    if (settings.median) unwinding<&removeImpulsesWide>(unfiltered, f.noise);
    f.spectrum = spectrum(g);
    if (settings.flatField && f.spectrum.ok && !background)
        unwinding<&flatFieldWide>(unfiltered, g, 2 * f.spectrum.period);
    g.px = std::vector<float>(); // what follows works on the unfiltered picture and its blurs
    // Area and wall length come from the image smoothed a little, binarized once: noise would make
    // the walls' iso-line wander and lengthen it, and single dark or bright pixels would draw loops
    // of their own; more smoothing would round the walls' bends and shorten them.
    std::pair<double, double> range;
    f.smooth = Image{unfiltered.width, unfiltered.height, blurAndRange(unfiltered, kSmoothing, range)};
    f.smoothRange = range;
    return std::nullopt;
}

} // namespace tovra::measure::detail

namespace tovra::measure {

std::vector<float> blur(const Image& g, double sigma) {
    return detail::unwinding<&detail::blurWide>(g, sigma);
}

} // namespace tovra::measure
