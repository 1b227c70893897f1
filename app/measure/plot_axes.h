// What the program's plots share: axes worked out in long double with round ticks, and a plot
// written whole as PNG, SVG or PDF with its provenance in the file's metadata.
#pragma once

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

class QPainter;

namespace tovra::plot {

// The axes are worked out in long double, whose exponent reaches far past a double's: a range from
// -1e308 to 1e308, its margins and the positions in it stay finite.
using Real = long double;

// The narrowest span an axis takes around its middle: a range below a double's resolution there
// (1e16 and 1e16 + 2 are neighbours) is widened, so that its ticks are distinct numbers.
inline Real narrowestSpan(Real middle) {
    return std::max<Real>(std::fabs(middle) * 1e-12L, 1e-300L);
}

// Round steps (1, 2 or 5 times a power of ten) from lo to hi, about `count` of them.
inline std::vector<Real> ticks(Real lo, Real hi, int count) {
    const Real raw = (hi - lo) / count;
    if (!(raw > 0) || !std::isfinite(raw)) return {};
    const Real power = std::pow(10.0L, std::floor(std::log10(raw)));
    Real step = power * 10;
    for (Real f : {1.0L, 2.0L, 5.0L})
        if (f * power >= raw) {
            step = f * power;
            break;
        }
    // Each tick a whole multiple of the step, never a sum of steps that rounding could stall.
    std::vector<Real> out;
    const Real first = std::ceil(lo / step);
    for (int k = 0; k <= 4 * count; ++k) {
        const Real t = (first + k) * step;
        if (t > hi + step * 1e-9L) break;
        if (std::fabs(t) > std::numeric_limits<double>::max()) continue; // past what a label can say
        out.push_back(std::fabs(t) < step * 1e-9L ? 0.0L : t);
    }
    return out;
}

// A range with a margin around what it must hold, never empty.
inline std::pair<Real, Real> padded(Real lo, Real hi) {
    const Real middle = lo / 2 + hi / 2;
    if (!(hi - lo >= narrowestSpan(middle))) {
        const Real half = std::max<Real>(std::fabs(middle) * 0.05L, 0.5L);
        return {middle - half, middle + half};
    }
    const Real margin = (hi - lo) * 0.06L;
    return {lo - margin, hi + margin};
}

// Tick labels with as many digits as it takes to tell neighbouring ticks apart.
inline QString tickText(Real v, Real step) {
    const Real size = std::max<Real>(std::fabs(v), step);
    const int digits = std::clamp(static_cast<int>(std::ceil(std::log10(size / step))) + 2, 3, 17);
    return QString::number(static_cast<double>(v), 'g', digits);
}

// One panel of points with their error bars (or bars of a histogram, the errors their half
// widths): its frame, ticks and labels, and `extra` drawn inside it given the mapping of (x, y).
struct PanelPoint {
    double x = 0, y = 0, se = 0;
};
struct PanelStyle {
    bool bars = false;       // a histogram from 0
    bool fromOrigin = false; // both axes reach 0
    bool grid = false;       // a line across at each of the values' ticks
};
using PanelExtra = std::function<void(const std::function<QPointF(double, double)>&)>;
void paintPanel(QPainter& p, const QRectF& r, const std::vector<PanelPoint>& points, const QString& xLabel,
                const QString& yLabel, const PanelStyle& style, const PanelExtra& extra = {});

// The plot `paint` draws into a 1200 x 900 area, as PNG, SVG or PDF (vector, 12 x 9 inches) by the
// name's suffix, written whole; `title` for the SVG's and the PDF's title, the provenance (a JSON
// line) in a PNG's text, an SVG's description, a PDF's attached provenance.json. False with `error`.
bool savePlotFile(const QString& path, const QString& title, const QByteArray& provenance,
                  const std::function<void(QPainter&, const QRectF&)>& paint, QString& error);

} // namespace tovra::plot
