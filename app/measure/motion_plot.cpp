#include "motion_plot.h"

#include "plot_axes.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace tovra {

using namespace plot;

MotionPlotTexts motionPlotTexts(bool japanese, const QString& valueUnit) {
    const QString unit = valueUnit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(valueUnit);
    if (japanese)
        return {QStringLiteral("値") + unit,          QStringLiteral("速度 (px/s)"),
                QStringLiteral("変位 (px)"),          QStringLiteral("ln v と H^-1/4 (μ = 1/4 の当てはめ)"),
                QStringLiteral("反転した磁場の分布"), QStringLiteral("画素")};
    return {QStringLiteral("value") + unit,      QStringLiteral("velocity (px/s)"),
            QStringLiteral("displacement (px)"), QStringLiteral("ln v against H^-1/4 (creep law, mu = 1/4)"),
            QStringLiteral("switching fields"),  QStringLiteral("pixels")};
}

namespace {

struct Point {
    double x, y, se;
};

// One panel: its frame, ticks and labels, the points with their error bars, and `extra` drawn in it.
void panel(QPainter& p, const QRectF& r, const std::vector<Point>& points, const QString& xLabel,
           const QString& yLabel,
           const std::function<void(const std::function<QPointF(double, double)>&)>& extra = {},
           bool bars = false) {
    Real x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    bool any = false;
    for (const Point& q : points) {
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
        if (!any) x0 = x1 = q.x, y0 = y1 = q.y, any = true;
        x0 = std::min<Real>(x0, q.x), x1 = std::max<Real>(x1, q.x);
        y0 = std::min<Real>(y0, q.y - q.se), y1 = std::max<Real>(y1, q.y + q.se);
    }
    if (bars) y0 = 0;
    const auto [xa, xb] = std::pair<Real, Real>(padded(x0, x1));
    const auto [ya, yb] = std::pair<Real, Real>(padded(y0, y1));
    const Real ax = xa, bx = xb, ay = ya, by = yb;
    const auto to = [r, ax, bx, ay, by](double x, double y) {
        return QPointF(static_cast<double>(r.left() + (x - ax) / (bx - ax) * r.width()),
                       static_cast<double>(r.bottom() - (y - ay) / (by - ay) * r.height()));
    };
    const QFontMetricsF metrics(p.font());
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
    const std::vector<Real> xs = ticks(ax, bx, 6), ys = ticks(ay, by, 5);
    for (Real t : xs) {
        const QPointF q = to(static_cast<double>(t), static_cast<double>(ay));
        const QString s = tickText(t, xs.size() > 1 ? xs[1] - xs[0] : 1);
        p.drawLine(q, q + QPointF(0, 4));
        p.drawText(QPointF(q.x() - metrics.horizontalAdvance(s) / 2, q.y() + 6 + metrics.ascent()), s);
    }
    for (Real t : ys) {
        const QPointF q = to(static_cast<double>(ax), static_cast<double>(t));
        const QString s = tickText(t, ys.size() > 1 ? ys[1] - ys[0] : 1);
        p.drawLine(q - QPointF(4, 0), q);
        p.drawText(QPointF(q.x() - 8 - metrics.horizontalAdvance(s), q.y() + metrics.ascent() / 2.5), s);
    }
    p.drawText(QPointF(r.center().x() - metrics.horizontalAdvance(xLabel) / 2,
                       r.bottom() + 10 + 2 * metrics.ascent()),
               xLabel);
    p.drawText(QPointF(r.left() - 40, r.top() - 10), yLabel);
    p.save();
    p.setClipRect(r.adjusted(-6, -6, 6, 6));
    const QColor mark(0x1f, 0x4e, 0xb4);
    for (const Point& q : points) {
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
        if (bars) {
            p.fillRect(QRectF(to(q.x - q.se, q.y), to(q.x + q.se, 0)), mark);
            continue;
        }
        p.setPen(QPen(mark, 1));
        if (q.se > 0) p.drawLine(to(q.x, q.y - q.se), to(q.x, q.y + q.se));
        p.setBrush(mark);
        p.drawEllipse(to(q.x, q.y), 3, 3);
    }
    if (extra) extra(to);
    p.restore();
}

} // namespace

void paintMotionPlot(QPainter& painter, const QRectF& area, const measure::Motion& m,
                     const std::optional<measure::CreepFit>& fit, const MotionPlotTexts& texts) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const double half = area.width() / 2, top = area.top() + 40, tall = area.height() / 2 - 110;
    const bool timed =
        std::any_of(m.steps.begin(), m.steps.end(), [](const auto& s) { return s.velocity.has_value(); });
    std::vector<Point> speed, creep;
    for (const measure::MotionStep& s : m.steps) {
        if (timed && s.velocity) speed.push_back({s.value, *s.velocity, s.velocitySe.value_or(0)});
        if (!timed && s.displacement)
            speed.push_back({s.value, *s.displacement, s.displacementSe.value_or(0)});
        if (s.velocity && *s.velocity > 0 && s.value > 0)
            creep.push_back(
                {std::pow(s.value, -0.25), std::log(*s.velocity), s.velocitySe.value_or(0) / *s.velocity});
    }
    panel(painter, QRectF(area.left() + 80, top, area.width() - 120, tall), speed, texts.value,
          timed ? texts.velocity : texts.displacement);
    panel(painter, QRectF(area.left() + 80, top + tall + 110, half - 130, tall), creep,
          QStringLiteral("H^-1/4"), texts.creep, [&](const std::function<QPointF(double, double)>& to) {
              if (!fit || !fit->ok || creep.empty()) return;
              double lo = creep.front().x, hi = lo;
              for (const Point& q : creep)
                  lo = std::min(lo, q.x), hi = std::max(hi, q.x);
              painter.setPen(QPen(QColor(0xc0, 0x1c, 0x2c), 1.5, Qt::DashLine));
              painter.drawLine(to(lo, fit->a - fit->b * lo), to(hi, fit->a - fit->b * hi));
          });
    // The switching fields in 30 bins.
    std::vector<Point> bins;
    const measure::Distribution d = measure::distributionOf(m.switching);
    if (d.count > 0) {
        double lo = d.mean, hi = d.mean;
        for (float v : m.switching)
            if (std::isfinite(v)) lo = std::min<double>(lo, v), hi = std::max<double>(hi, v);
        const int n = 30;
        const double width = hi > lo ? (hi - lo) / n : 1;
        std::vector<double> counts(n, 0);
        for (float v : m.switching)
            if (std::isfinite(v))
                counts[static_cast<size_t>(std::clamp(static_cast<int>((v - lo) / width), 0, n - 1))] += 1;
        for (int k = 0; k < n; ++k)
            bins.push_back({lo + (k + 0.5) * width, counts[static_cast<size_t>(k)], width * 0.45});
    }
    panel(painter, QRectF(area.left() + half + 70, top + tall + 110, half - 110, tall), bins, texts.value,
          texts.histogram, {}, true);
    painter.restore();
}

bool saveMotionPlot(const QString& path, const measure::Motion& m,
                    const std::optional<measure::CreepFit>& fit, const MotionPlotTexts& texts, QString& error,
                    const QByteArray& provenance) {
    return savePlotFile(
        path, texts.velocity, provenance,
        [&](QPainter& painter, const QRectF& area) { paintMotionPlot(painter, area, m, fit, texts); }, error);
}

} // namespace tovra
