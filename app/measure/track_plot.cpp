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
    std::vector<PanelPoint> msd;
    double last = 1;
    if (data.tracks)
        for (const measure::MsdPoint& p : data.tracks->msd)
            msd.push_back({p.time, p.msd, p.se}), last = std::max(last, p.time);
    const measure::Tracks* t = data.tracks;
    paintPanel(painter, panels.msd, msd, texts.lag, texts.msd, PanelStyle{false, true, true},
               [&](const std::function<QPointF(double, double)>& to) {
                   if (!t || !t->diffusion || msd.empty()) return;
                   const double d = *t->diffusion, s = t->localisationPx.value_or(0);
                   painter.setPen(QPen(QColor(0xc0, 0x1c, 0x2c), 1.5, Qt::DashLine));
                   painter.drawLine(to(0, 4 * s * s), to(last, 4 * d * last + 4 * s * s));
                   painter.setPen(QColor(0xc0, 0x1c, 0x2c));
                   painter.drawText(QPointF(panels.msd.left() + 10, panels.msd.top() + 20),
                                    QStringLiteral("%1: D = %2 ± %3 %4")
                                        .arg(texts.fit)
                                        .arg(d, 0, 'g', 4)
                                        .arg(t->diffusionSe.value_or(0), 0, 'g', 2)
                                        .arg(texts.perLag));
               });
    painter.restore();
}

bool saveTrackPlot(const QString& path, const TrackPlotData& data, const TrackPlotTexts& texts,
                   QString& error, const QByteArray& provenance) {
    return savePlotFile(
        path, texts.msd, provenance,
        [&](QPainter& painter, const QRectF& area) { paintTrackPlot(painter, area, data, texts); }, error);
}

} // namespace tovra
