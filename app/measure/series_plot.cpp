#include "series.h"

#include "core/save_file.h"
#include "plot_axes.h"
#include "series_loop.h"
#include "series_text.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <tuple>

namespace tovra {

using namespace series_text;

namespace {

using namespace plot;

// One kind of mark: its values, standard errors and colour.
struct Curve {
    double (*value)(const SeriesPoint&);
    double (*se)(const SeriesPoint&);
    QColor colour;
    int shape; // 0 circle, 1 square, 2 diamond
    int panel; // 0 the widths, 1 the magnetisation
};

const Curve kCurves[] = {
    {[](const SeriesPoint& p) { return p.blackWidth; }, [](const SeriesPoint& p) { return p.blackWidthSe; },
     QColor(0x1f, 0x4e, 0xb4), 0, 0},
    {[](const SeriesPoint& p) { return p.whiteWidth; }, [](const SeriesPoint& p) { return p.whiteWidthSe; },
     QColor(0xd9, 0x6c, 0x0a), 1, 0},
    {[](const SeriesPoint& p) { return p.period; }, [](const SeriesPoint& p) { return p.periodSe; },
     QColor(0x2a, 0x8a, 0x4a), 2, 0},
    {[](const SeriesPoint& p) { return p.magnetisation(); },
     [](const SeriesPoint& p) { return 2 * p.blackFractionSe; }, QColor(0xa0, 0x1c, 0x2c), 0, 1},
};

// Where everything of a plot in `area` goes.
struct Layout {
    QRectF panel[2];
    Real x0 = 0, x1 = 1, y0[2] = {0, 0}, y1[2] = {1, 1};
    QPointF at(int k, Real x, Real y) const {
        const QRectF& r = panel[k];
        return {static_cast<double>(r.left() + (x - x0) / (x1 - x0) * r.width()),
                static_cast<double>(r.bottom() - (y - y0[k]) / (y1[k] - y0[k]) * r.height())};
    }
};

Layout layoutOf(const QRectF& area, const std::vector<SeriesPoint>& points) {
    Layout l;
    const double left = 78, right = 24, top = 44, gap = 76, bottom = 56;
    const double h = (area.height() - top - gap - bottom) / 2;
    l.panel[0] = QRectF(area.left() + left, area.top() + top, area.width() - left - right, std::max(h, 10.0));
    l.panel[1] = l.panel[0].translated(0, h + gap);
    Real xs[2] = {HUGE_VALL, -HUGE_VALL}, ys[2][2] = {{HUGE_VALL, -HUGE_VALL}, {HUGE_VALL, -HUGE_VALL}};
    for (const SeriesPoint& p : points) {
        if (!p.measured()) continue;
        xs[0] = std::min<Real>(xs[0], p.value), xs[1] = std::max<Real>(xs[1], p.value);
        for (const Curve& c : kCurves) {
            if (!std::isfinite(c.value(p))) continue; // a saturated frame has no widths
            const Real v = c.value(p), e = std::isfinite(c.se(p)) ? c.se(p) : 0;
            ys[c.panel][0] = std::min(ys[c.panel][0], v - e),
            ys[c.panel][1] = std::max(ys[c.panel][1], v + e);
        }
    }
    if (!(xs[1] >= xs[0])) xs[0] = 0, xs[1] = 1;
    std::tie(l.x0, l.x1) = padded(xs[0], xs[1]);
    for (int k = 0; k < 2; ++k) {
        if (!(ys[k][1] >= ys[k][0])) ys[k][0] = k == 0 ? 0 : -1, ys[k][1] = 1;
        if (k == 0) ys[k][0] = std::min(ys[k][0], 0.0L); // widths from zero, so that ratios read true
        if (k == 1) ys[k][0] = -1, ys[k][1] = 1;         // the magnetisation's whole range, always
        std::tie(l.y0[k], l.y1[k]) = padded(ys[k][0], ys[k][1]);
    }
    return l;
}

// The sweep's two directions.
const QColor kUp(0xc0, 0x1c, 0x2c), kDown(0x1f, 0x4e, 0xb4);

// An arrowhead half way from `a` to `b`, pointing to `b`.
void arrow(QPainter& p, QPointF a, QPointF b, const QColor& colour) {
    const QPointF d = b - a;
    const double length = std::hypot(d.x(), d.y());
    if (length < 14) return;
    const QPointF u = d / length, n(-u.y(), u.x()), tip = (a + b) / 2 + u * 4;
    const QPointF head[3] = {tip, tip - u * 8 + n * 4, tip - u * 8 - n * 4};
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    p.drawPolygon(head, 3);
}

void mark(QPainter& p, QPointF c, int shape, const QColor& colour, bool filled) {
    constexpr double r = 4.5;
    p.setPen(QPen(colour, 1.6));
    p.setBrush(filled ? QBrush(colour) : QBrush(Qt::white));
    if (shape == 0) p.drawEllipse(c, r, r);
    if (shape == 1) p.drawRect(QRectF(c.x() - r * 0.9, c.y() - r * 0.9, 1.8 * r, 1.8 * r));
    if (shape == 2) {
        const QPointF d[4] = {{c.x(), c.y() - r * 1.2},
                              {c.x() + r * 1.2, c.y()},
                              {c.x(), c.y() + r * 1.2},
                              {c.x() - r * 1.2, c.y()}};
        p.drawPolygon(d, 4);
    }
}

} // namespace

QString valueName(const ValueSource& source) {
    const Language l = source.language;
    if (!source.name.trimmed().isEmpty()) return source.name.trimmed();
    if (!source.file.isEmpty() && !source.column.isEmpty()) return source.column;
    if (!source.metadataKey.isEmpty())
        return source.metadataKey == QLatin1String("DeltaT") || source.metadataKey == QLatin1String("time")
                   ? pick(l, QStringLiteral("time"), QStringLiteral("時間"))
                   : source.metadataKey;
    if (source.list.isEmpty() && source.file.isEmpty() && !source.fromName)
        return pick(l, QStringLiteral("frame"), QStringLiteral("フレーム番号"));
    return pick(l, QStringLiteral("value"), QStringLiteral("値"));
}

PlotTexts plotTexts(const ValueSource& source, const QString& valueUnit) {
    const Language l = source.language;
    PlotTexts t;
    const QString name = oneLine(valueName(source));
    t.value = valueUnit.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, oneLine(valueUnit));
    t.widths = pick(l, QStringLiteral("width (px)"), QStringLiteral("幅 (px)"));
    t.magnetisation =
        pick(l, QStringLiteral("net magnetisation 1 - 2 f"), QStringLiteral("正味の磁化 1 - 2 f"));
    t.black = pick(l, QStringLiteral("black width"), QStringLiteral("黒の幅"));
    t.white = pick(l, QStringLiteral("white width"), QStringLiteral("白の幅"));
    t.period = pick(l, QStringLiteral("period"), QStringLiteral("周期"));
    t.unreliable = pick(l, QStringLiteral("hollow: not reliable"), QStringLiteral("白抜き: 信頼できない"));
    t.up = pick(l, QStringLiteral("sweep up"), QStringLiteral("上り"));
    t.down = pick(l, QStringLiteral("sweep down"), QStringLiteral("下り"));
    return t;
}

void paintSeriesPlot(QPainter& painter, const QRectF& area, const std::vector<SeriesPoint>& points,
                     const PlotTexts& texts) {
    const Layout l = layoutOf(area, points);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    for (int k = 0; k < 2; ++k) {
        const QRectF& r = l.panel[k];
        painter.setPen(QPen(QColor(0xe4, 0xe4, 0xe4), 1));
        const std::vector<Real> ys = ticks(l.y0[k], l.y1[k], 6), xs = ticks(l.x0, l.x1, 8);
        for (Real t : ys) {
            const double y = l.at(k, l.x0, t).y();
            painter.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
        }
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r);
        for (Real t : ys) {
            const double y = l.at(k, l.x0, t).y();
            painter.drawLine(QPointF(r.left() - 4, y), QPointF(r.left(), y));
            const QString s = tickText(t, ys.size() > 1 ? ys[1] - ys[0] : 1);
            painter.drawText(QPointF(r.left() - 8 - metrics.horizontalAdvance(s), y + metrics.ascent() / 2.5),
                             s);
        }
        // Long labels (many digits) every other tick, so that they do not run into each other.
        const Real xStep = xs.size() > 1 ? xs[1] - xs[0] : 1;
        double widest = 0;
        for (Real t : xs)
            widest = std::max(widest, metrics.horizontalAdvance(tickText(t, xStep)));
        const size_t every = widest * static_cast<double>(xs.size()) > 0.8 * r.width() ? 2 : 1;
        for (size_t i = 0; i < xs.size(); ++i) {
            const Real t = xs[i];
            const double x = l.at(k, t, l.y0[k]).x();
            painter.drawLine(QPointF(x, r.bottom()), QPointF(x, r.bottom() + 4));
            if (i % every != 0) continue;
            const QString s = tickText(t, xStep);
            painter.drawText(QPointF(x - metrics.horizontalAdvance(s) / 2, r.bottom() + 6 + metrics.ascent()),
                             s);
        }
        painter.drawText(QPointF(r.center().x() - metrics.horizontalAdvance(texts.value) / 2,
                                 r.bottom() + 10 + 2 * metrics.ascent()),
                         texts.value);
        // The quantity above its axis, upright, so that it reads in any script.
        painter.drawText(QPointF(r.left() - 40, r.top() - 10), k == 0 ? texts.widths : texts.magnetisation);
    }
    // Zero magnetisation, where the black fraction is a half.
    if (l.y0[1] < 0 && l.y1[1] > 0) {
        painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 1, Qt::DashLine));
        painter.drawLine(l.at(1, l.x0, 0), l.at(1, l.x1, 0));
    }
    painter.setClipRect(l.panel[0].united(l.panel[1]).adjusted(-8, -8, 8, 8));
    // Each frame's branch: up where the values rose to it, down where they fell (the first takes the
    // second's); the magnetisation is drawn in the branch's colour with an arrow along the sweep.
    std::vector<int> branch(points.size(), 1);
    for (size_t k = 1; k < points.size(); ++k)
        branch[k] = points[k].value > points[k - 1].value   ? 1
                    : points[k].value < points[k - 1].value ? -1
                                                            : branch[k - 1];
    if (points.size() > 1) branch[0] = branch[1];
    auto colourOf = [&](const Curve& c, size_t k) {
        return c.panel == 1 ? (branch[k] > 0 ? kUp : kDown) : c.colour;
    };
    for (const Curve& c : kCurves) {
        // The line through the reliable frames in series order, then the error bars and marks.
        std::optional<QPointF> before;
        for (size_t k = 0; k < points.size(); ++k) {
            const SeriesPoint& p = points[k];
            if (!p.measured() || !p.reliable || !std::isfinite(c.value(p))) continue;
            const QPointF at = l.at(c.panel, p.value, c.value(p));
            if (before) {
                painter.setPen(QPen(colourOf(c, k), 1.2));
                painter.setBrush(Qt::NoBrush);
                painter.drawLine(*before, at);
                if (c.panel == 1) arrow(painter, *before, at, colourOf(c, k));
            }
            before = at;
        }
        for (size_t k = 0; k < points.size(); ++k) {
            const SeriesPoint& p = points[k];
            if (!p.measured() || !std::isfinite(c.value(p))) continue;
            const Real v = c.value(p), e = c.se(p);
            if (std::isfinite(e) && e > 0) {
                const QPointF a = l.at(c.panel, p.value, v - e), b = l.at(c.panel, p.value, v + e);
                painter.setPen(QPen(colourOf(c, k), 1.2));
                painter.drawLine(a, b);
                painter.drawLine(a - QPointF(3, 0), a + QPointF(3, 0));
                painter.drawLine(b - QPointF(3, 0), b + QPointF(3, 0));
            }
            mark(painter, l.at(c.panel, p.value, v), c.shape, colourOf(c, k), p.reliable);
        }
    }
    // The loop's coercive fields, where the magnetisation crosses zero on each branch.
    const Loop loop = loopOf(points);
    for (size_t i = 0; i < loop.branches.size(); ++i) {
        const LoopBranch& b = loop.branches[i];
        if (!b.coercive || *b.coercive < l.x0 || *b.coercive > l.x1) continue;
        const QColor colour = b.up ? kUp : kDown;
        const QPointF at = l.at(1, *b.coercive, 0);
        painter.setPen(QPen(colour, 1, Qt::DashLine));
        painter.drawLine(QPointF(at.x(), l.panel[1].top()), QPointF(at.x(), l.panel[1].bottom()));
        const QString label = QStringLiteral("Hc%1 %2")
                                  .arg(b.up ? QStringLiteral("↑") : QStringLiteral("↓"))
                                  .arg(*b.coercive, 0, 'g', 4);
        painter.setPen(colour);
        painter.drawText(QPointF(at.x() + 4, l.panel[1].top() + 16 + 16 * static_cast<double>(i % 2)), label);
    }
    painter.setClipping(false);
    // The legends above each panel, at its right: the widths' marks and the hollow frames with the
    // warnings that made them so; the sweep's two directions.
    QStringList reasons;
    for (const SeriesPoint& p : points)
        if (p.measured() && !p.reliable)
            for (const QString& w : p.warnings)
                if (!reasons.contains(w)) reasons << w;
    const QString hollow =
        reasons.isEmpty()
            ? texts.unreliable
            : QStringLiteral("%1 (%2)").arg(texts.unreliable, reasons.join(QStringLiteral(", ")));
    auto legend = [&](const QRectF& panel, const std::vector<std::tuple<int, QColor, bool, QString>>& items) {
        double width = 0;
        for (const auto& item : items)
            width += 30 + metrics.horizontalAdvance(std::get<3>(item));
        double x = panel.right() - width;
        const double y = panel.top() - 14;
        for (const auto& [shape, colour, filled, name] : items) {
            mark(painter, QPointF(x + 6, y), shape, colour, filled);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(x + 16, y + metrics.ascent() / 2.5), name);
            x += 30 + metrics.horizontalAdvance(name);
        }
    };
    legend(l.panel[0], {{kCurves[0].shape, kCurves[0].colour, true, texts.black},
                        {kCurves[1].shape, kCurves[1].colour, true, texts.white},
                        {kCurves[2].shape, kCurves[2].colour, true, texts.period},
                        {0, Qt::black, false, hollow}});
    legend(l.panel[1], {{0, kUp, true, texts.up}, {0, kDown, true, texts.down}});
    painter.restore();
}

int seriesPointAt(const QRectF& area, const std::vector<SeriesPoint>& points, QPointF at) {
    const Layout l = layoutOf(area, points);
    int best = -1;
    double nearest = 7;
    for (size_t k = 0; k < points.size(); ++k) {
        if (!points[k].measured()) continue;
        for (const Curve& c : kCurves) {
            if (!std::isfinite(c.value(points[k]))) continue;
            const QPointF d = l.at(c.panel, points[k].value, c.value(points[k])) - at;
            if (const double r = std::hypot(d.x(), d.y()); r < nearest)
                nearest = r, best = static_cast<int>(k);
        }
    }
    return best;
}

QPointF seriesPointPosition(const QRectF& area, const std::vector<SeriesPoint>& points, int k) {
    if (k < 0 || static_cast<size_t>(k) >= points.size()) return {};
    const SeriesPoint& p = points[static_cast<size_t>(k)];
    return layoutOf(area, points).at(0, p.value, p.blackWidth);
}

bool plot::savePlotFile(const QString& path, const QString& title, const QByteArray& provenance,
                        const std::function<void(QPainter&, const QRectF&)>& paint, QString& error) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QRectF area(0, 0, 1200, 900);
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(1200, 900));
        svg.setViewBox(area);
        svg.setTitle(title.toHtmlEscaped()); // the generator writes the title as it is given
        if (!provenance.isEmpty()) svg.setDescription(QString::fromUtf8(provenance).toHtmlEscaped());
        QPainter painter(&svg);
        paint(painter, area);
    } else if (suffix == QLatin1String("png")) {
        QImage image(1200, 900, QImage::Format_RGB32);
        image.fill(Qt::white);
        if (!provenance.isEmpty()) image.setText(QStringLiteral("provenance"), QString::fromUtf8(provenance));
        {
            QPainter painter(&image);
            paint(painter, area);
        }
        if (!image.save(&buffer, "PNG")) {
            error = QStringLiteral("%1: the plot could not be encoded").arg(path);
            return false;
        }
    } else if (suffix == QLatin1String("pdf")) {
        // Vector, for a paper: the page the plot's size at 100 dots an inch.
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QSizeF(12, 9), QPageSize::Inch));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(100);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Tovra"));
        if (!provenance.isEmpty())
            pdf.addFileAttachment(QStringLiteral("provenance.json"), provenance,
                                  QStringLiteral("application/json"));
        QPainter painter(&pdf);
        paint(painter, area);
    } else {
        error = QStringLiteral("%1: a plot is written as .png, .svg or .pdf").arg(path);
        return false;
    }
    buffer.close();
    QString why;
    if (!saveWholeFile(path, bytes, &why)) {
        error = QStringLiteral("%1 cannot be written: %2").arg(path, why);
        return false;
    }
    return true;
}

void plot::paintPanel(QPainter& p, const QRectF& r, const std::vector<PanelPoint>& points,
                      const QString& xLabel, const QString& yLabel, const PanelStyle& style,
                      const PanelExtra& extra) {
    const bool bars = style.bars;
    Real x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    bool any = false;
    for (const PanelPoint& q : points) {
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
        if (!any) x0 = x1 = q.x, y0 = y1 = q.y, any = true;
        x0 = std::min<Real>(x0, q.x), x1 = std::max<Real>(x1, q.x);
        y0 = std::min<Real>(y0, q.y - q.se), y1 = std::max<Real>(y1, q.y + q.se);
    }
    if (bars || style.fromOrigin) y0 = std::min<Real>(y0, 0);
    if (style.fromOrigin) x0 = std::min<Real>(x0, 0);
    const std::pair<Real, Real> xr = padded(x0, x1), yr = padded(y0, y1);
    const Real ax = style.fromOrigin ? std::min<Real>(0, xr.first) : xr.first, bx = xr.second;
    const Real ay = style.fromOrigin || bars ? std::min<Real>(0, yr.first) : yr.first, by = yr.second;
    const auto to = [r, ax, bx, ay, by](double x, double y) {
        return QPointF(static_cast<double>(r.left() + (x - ax) / (bx - ax) * r.width()),
                       static_cast<double>(r.bottom() - (y - ay) / (by - ay) * r.height()));
    };
    const QFontMetricsF metrics(p.font());
    const std::vector<Real> xs = ticks(ax, bx, 6), ys = ticks(ay, by, 5);
    if (style.grid) {
        p.setPen(QPen(QColor(0xe4, 0xe4, 0xe4), 1));
        for (Real t : ys)
            p.drawLine(to(static_cast<double>(ax), static_cast<double>(t)),
                       to(static_cast<double>(bx), static_cast<double>(t)));
    }
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
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
    for (const PanelPoint& q : points) {
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

bool saveSeriesPlot(const QString& path, const std::vector<SeriesPoint>& points, const PlotTexts& texts,
                    QString& error, const QByteArray& provenance) {
    return savePlotFile(
        path, texts.value, provenance,
        [&](QPainter& painter, const QRectF& area) { paintSeriesPlot(painter, area, points, texts); }, error);
}

} // namespace tovra
