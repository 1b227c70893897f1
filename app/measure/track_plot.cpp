#include "track_plot.h"

#include "plot_axes.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace tovra {

using namespace plot;

namespace {

struct Panels {
    QRectF tracks, msd;
};

Panels panelsOf(const QRectF& area, const TrackPlotData& data) {
    Panels p;
    const double half = area.width() / 2;
    // The frames' plane at its own aspect, as large as its half holds.
    const QRectF room(area.left() + 20, area.top() + 40, half - 40, area.height() - 90);
    const double w = std::max(1, data.width), h = std::max(1, data.height);
    const double scale = std::min(room.width() / w, room.height() / h);
    p.tracks = QRectF(room.left() + (room.width() - w * scale) / 2,
                      room.top() + (room.height() - h * scale) / 2, w * scale, h * scale);
    p.msd = QRectF(area.left() + half + 70, area.top() + 40, half - 100, area.height() - 110);
    return p;
}

QColor trackColour(int id) {
    return QColor::fromHsv(static_cast<int>((static_cast<unsigned>(id) * 137U) % 360U), 200, 190);
}

} // namespace

TrackPlotTexts trackPlotTexts(bool japanese, const QString& lagUnit) {
    const QString perLag =
        QStringLiteral("px²/%1").arg(lagUnit.isEmpty() ? QStringLiteral("frame") : lagUnit);
    if (japanese)
        return {QStringLiteral("軌跡"), QStringLiteral("平均二乗変位 (px²)"),
                lagUnit.isEmpty() ? QStringLiteral("時間差 (フレーム)")
                                  : QStringLiteral("時間差 (%1)").arg(lagUnit),
                QStringLiteral("4Dt + 4σ² の当てはめ"), perLag};
    return {QStringLiteral("tracks"), QStringLiteral("mean squared displacement (px²)"),
            lagUnit.isEmpty() ? QStringLiteral("lag (frames)") : QStringLiteral("lag (%1)").arg(lagUnit),
            QStringLiteral("fit 4Dt + 4σ²"), perLag};
}

QPointF trackPlotPosition(const QRectF& area, const TrackPlotData& data, QPointF frameAt) {
    const QRectF r = panelsOf(area, data).tracks;
    const double w = std::max(1, data.width), h = std::max(1, data.height);
    return {r.left() + (frameAt.x() + 0.5) / w * r.width(), r.top() + (frameAt.y() + 0.5) / h * r.height()};
}

void paintTrackPlot(QPainter& painter, const QRectF& area, const TrackPlotData& data,
                    const TrackPlotTexts& texts) {
    const Panels panels = panelsOf(area, data);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    if (data.frame && !data.frame->isNull()) painter.drawImage(panels.tracks, *data.frame);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(panels.tracks);
    painter.drawText(QPointF(panels.tracks.left(), panels.tracks.top() - 10), texts.tracks);
    // Each track's steps up to the frame chosen, its last place marked.
    if (data.frames && data.tracks && data.tracks->error.empty()) {
        const auto& frames = *data.frames;
        const auto& ids = data.tracks->id;
        const int last = data.upTo < 0 ? static_cast<int>(frames.size()) - 1
                                       : std::min(data.upTo, static_cast<int>(frames.size()) - 1);
        std::vector<QPainterPath> paths(static_cast<size_t>(data.tracks->tracks));
        std::vector<QPointF> at(static_cast<size_t>(data.tracks->tracks));
        std::vector<int> seen(static_cast<size_t>(data.tracks->tracks), -1);
        for (int f = 0; f <= last && static_cast<size_t>(f) < ids.size(); ++f)
            for (size_t i = 0;
                 i < frames[static_cast<size_t>(f)].size() && i < ids[static_cast<size_t>(f)].size(); ++i) {
                const auto id = static_cast<size_t>(ids[static_cast<size_t>(f)][i]);
                const measure::TrackPoint& p = frames[static_cast<size_t>(f)][i];
                const QPointF q = trackPlotPosition(area, data, QPointF(p.x, p.y));
                if (seen[id] < 0)
                    paths[id].moveTo(q);
                else
                    paths[id].lineTo(q);
                seen[id] = f, at[id] = q;
            }
        painter.setClipRect(panels.tracks);
        for (size_t id = 0; id < paths.size(); ++id) {
            if (seen[id] < 0) continue;
            painter.setPen(QPen(trackColour(static_cast<int>(id)), 1.2));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(paths[id]);
            if (seen[id] == last) {
                painter.setBrush(trackColour(static_cast<int>(id)));
                painter.drawEllipse(at[id], 2.2, 2.2);
            }
        }
        painter.setClipping(false);
    }
    // The MSD with its standard errors, and the line D comes from.
    const QRectF& r = panels.msd;
    std::vector<measure::MsdPoint> msd;
    if (data.tracks) msd = data.tracks->msd;
    Real x1 = 1, y1 = 1;
    for (const measure::MsdPoint& p : msd)
        x1 = std::max<Real>(x1, p.time), y1 = std::max<Real>(y1, p.msd + p.se);
    const std::pair<Real, Real> xRange = padded(0, x1), yRange = padded(0, y1);
    const Real x0 = std::min<Real>(0, xRange.first), y0 = std::min<Real>(0, yRange.first);
    const Real xb = xRange.second, yb = yRange.second;
    auto to = [&](Real x, Real y) {
        return QPointF(static_cast<double>(r.left() + (x - x0) / (xb - x0) * r.width()),
                       static_cast<double>(r.bottom() - (y - y0) / (yb - y0) * r.height()));
    };
    const std::vector<Real> xs = ticks(x0, xb, 8), ys = ticks(y0, yb, 6);
    painter.setPen(QPen(QColor(0xe4, 0xe4, 0xe4), 1));
    for (Real t : ys)
        painter.drawLine(to(x0, t), to(xb, t));
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);
    for (Real t : ys) {
        const QPointF q = to(x0, t);
        const QString s = tickText(t, ys.size() > 1 ? ys[1] - ys[0] : 1);
        painter.drawLine(q - QPointF(4, 0), q);
        painter.drawText(QPointF(q.x() - 8 - metrics.horizontalAdvance(s), q.y() + metrics.ascent() / 2.5),
                         s);
    }
    for (Real t : xs) {
        const QPointF q = to(t, y0);
        const QString s = tickText(t, xs.size() > 1 ? xs[1] - xs[0] : 1);
        painter.drawLine(q, q + QPointF(0, 4));
        painter.drawText(QPointF(q.x() - metrics.horizontalAdvance(s) / 2, q.y() + 6 + metrics.ascent()), s);
    }
    painter.drawText(QPointF(r.center().x() - metrics.horizontalAdvance(texts.lag) / 2,
                             r.bottom() + 10 + 2 * metrics.ascent()),
                     texts.lag);
    painter.drawText(QPointF(r.left() - 50, r.top() - 10), texts.msd);
    painter.setClipRect(r.adjusted(-6, -6, 6, 6));
    const QColor marks(0x1f, 0x4e, 0xb4);
    for (const measure::MsdPoint& p : msd) {
        painter.setPen(QPen(marks, 1));
        painter.drawLine(to(p.time, p.msd - p.se), to(p.time, p.msd + p.se));
        painter.setBrush(marks);
        painter.drawEllipse(to(p.time, p.msd), 3, 3);
    }
    if (data.tracks && data.tracks->diffusion && !msd.empty()) {
        const double d = *data.tracks->diffusion;
        const double s = data.tracks->localisationPx.value_or(0);
        painter.setPen(QPen(QColor(0xc0, 0x1c, 0x2c), 1.5, Qt::DashLine));
        painter.drawLine(to(0, 4 * s * s), to(x1, 4 * d * static_cast<double>(x1) + 4 * s * s));
        painter.setClipping(false);
        const QString text = QStringLiteral("%1: D = %2 ± %3 %4")
                                 .arg(texts.fit)
                                 .arg(d, 0, 'g', 4)
                                 .arg(data.tracks->diffusionSe.value_or(0), 0, 'g', 2)
                                 .arg(texts.perLag);
        painter.drawText(QPointF(r.left() + 10, r.top() + 20), text);
    }
    painter.restore();
}

bool saveTrackPlot(const QString& path, const TrackPlotData& data, const TrackPlotTexts& texts,
                   QString& error, const QByteArray& provenance) {
    return savePlotFile(
        path, texts.msd, provenance,
        [&](QPainter& painter, const QRectF& area) { paintTrackPlot(painter, area, data, texts); }, error);
}

} // namespace tovra
