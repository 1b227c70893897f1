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
    std::vector<PanelPoint> speed, creep;
    for (const measure::MotionStep& s : m.steps) {
        if (timed && s.velocity) speed.push_back({s.value, *s.velocity, s.velocitySe.value_or(0)});
        if (!timed && s.displacement)
            speed.push_back({s.value, *s.displacement, s.displacementSe.value_or(0)});
        if (s.velocity && *s.velocity > 0 && s.value > 0)
            creep.push_back(
                {std::pow(s.value, -0.25), std::log(*s.velocity), s.velocitySe.value_or(0) / *s.velocity});
    }
    paintPanel(painter, QRectF(area.left() + 80, top, area.width() - 120, tall), speed, texts.value,
               timed ? texts.velocity : texts.displacement, {});
    paintPanel(painter, QRectF(area.left() + 80, top + tall + 110, half - 130, tall), creep,
               QStringLiteral("H^-1/4"), texts.creep, {},
               [&](const std::function<QPointF(double, double)>& to) {
                   if (!fit || !fit->ok || creep.empty()) return;
                   double lo = creep.front().x, hi = lo;
                   for (const PanelPoint& q : creep)
                       lo = std::min(lo, q.x), hi = std::max(hi, q.x);
                   painter.setPen(QPen(QColor(0xc0, 0x1c, 0x2c), 1.5, Qt::DashLine));
                   painter.drawLine(to(lo, fit->a - fit->b * lo), to(hi, fit->a - fit->b * hi));
               });
    // The switching fields in 30 bins.
    std::vector<PanelPoint> bins;
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
    paintPanel(painter, QRectF(area.left() + half + 70, top + tall + 110, half - 110, tall), bins,
               texts.value, texts.histogram, PanelStyle{true, false, false});
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
