#include "series_loop.h"

#include <cmath>

namespace tovra {

namespace {

bool usable(const SeriesPoint& p) {
    return p.measured() && p.reliable && std::isfinite(p.magnetisation());
}

double mSe(const SeriesPoint& p) {
    return 2 * p.blackFractionSe;
}

// Where a straight line through (x1, y1) and (x2, y2) reaches y = 0, and its standard error
// from those of y1 and y2.
std::pair<double, double> zeroOf(double x1, double y1, double s1, double x2, double y2, double s2) {
    const double dx = x2 - x1, dy = y2 - y1;
    const double x = x1 - y1 * dx / dy;
    const double se = std::fabs(dx) / (dy * dy) * std::hypot(y2 * s1, y1 * s2);
    return {x, se};
}

void findCrossings(LoopBranch& b, const std::vector<SeriesPoint>& points, const std::vector<int>& used) {
    for (size_t k = 0; k + 1 < used.size() && !b.coercive; ++k) {
        const SeriesPoint &p = points[static_cast<size_t>(used[k])],
                          &q = points[static_cast<size_t>(used[k + 1])];
        const double m1 = p.magnetisation(), m2 = q.magnetisation();
        if (m1 == 0 || (m1 < 0) != (m2 < 0)) {
            if (m1 == m2) continue;
            const auto [x, se] = zeroOf(p.value, m1, mSe(p), q.value, m2, mSe(q));
            b.coercive = x, b.coerciveSe = se;
            // A parabola through the two frames and the nearer of their neighbours on the branch:
            // its zero between them, against the line's, is the interpolation's allowance.
            const int third = k > 0 ? used[k - 1] : k + 2 < used.size() ? used[k + 2] : -1;
            b.coerciveSys = 0;
            if (third >= 0) {
                const SeriesPoint& o = points[static_cast<size_t>(third)];
                const double xs[3] = {p.value, q.value, o.value}, ys[3] = {m1, m2, o.magnetisation()};
                // Newton's form: y = ys0 + d1 (x - xs0) + d2 (x - xs0)(x - xs1).
                const double d1 = (ys[1] - ys[0]) / (xs[1] - xs[0]);
                const double d2 = ((ys[2] - ys[1]) / (xs[2] - xs[1]) - d1) / (xs[2] - xs[0]);
                double root = x;
                for (int step = 0; step < 20 && std::isfinite(root); ++step) { // Newton from the line's zero
                    const double y = ys[0] + d1 * (root - xs[0]) + d2 * (root - xs[0]) * (root - xs[1]);
                    const double slope = d1 + d2 * (2 * root - xs[0] - xs[1]);
                    if (!(std::fabs(slope) > 0)) break;
                    root -= y / slope;
                }
                const double lo = std::min(p.value, q.value), hi = std::max(p.value, q.value);
                if (std::isfinite(root) && root >= lo && root <= hi) b.coerciveSys = std::fabs(root - x);
            }
            // The widths between the two frames, where both have them.
            const double t = (x - p.value) / (q.value - p.value);
            if (p.pattern != QLatin1String("saturated") && q.pattern != QLatin1String("saturated")) {
                b.blackWidth = p.blackWidth + t * (q.blackWidth - p.blackWidth);
                b.whiteWidth = p.whiteWidth + t * (q.whiteWidth - p.whiteWidth);
                b.period = p.period + t * (q.period - p.period);
            }
            // Saturation: where |m| first reaches 0.95 past the crossing.
            for (size_t j = k + 1; j < used.size() && !b.saturation; ++j) {
                const SeriesPoint &a = points[static_cast<size_t>(used[j - 1])],
                                  &c = points[static_cast<size_t>(used[j])];
                const double ma = std::fabs(a.magnetisation()), mc = std::fabs(c.magnetisation());
                if (mc >= 0.95)
                    b.saturation = ma >= 0.95 || mc == ma
                                       ? c.value
                                       : a.value + (0.95 - ma) / (mc - ma) * (c.value - a.value);
            }
        }
    }
    if (!b.coercive) b.note = QStringLiteral("the net magnetisation does not cross zero on this branch");
    // The remanence: at value 0, between the frames on either side of it (or at a frame there).
    for (size_t k = 0; k + 1 < used.size() && !b.remanence; ++k) {
        const SeriesPoint &p = points[static_cast<size_t>(used[k])],
                          &q = points[static_cast<size_t>(used[k + 1])];
        if (p.value == 0) {
            b.remanence = p.magnetisation(), b.remanenceSe = mSe(p);
        } else if (q.value == 0 && k + 2 == used.size()) {
            b.remanence = q.magnetisation(), b.remanenceSe = mSe(q);
        } else if ((p.value < 0) != (q.value < 0) && q.value != 0) {
            const double t = -p.value / (q.value - p.value);
            b.remanence = p.magnetisation() + t * (q.magnetisation() - p.magnetisation());
            b.remanenceSe = std::hypot((1 - t) * mSe(p), t * mSe(q));
        }
    }
}

QString num(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? QString::number(*v, 'g', 10) : QStringLiteral("null");
}

QString quotedJson(const QString& s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\'), out += c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

} // namespace

Loop loopOf(const std::vector<SeriesPoint>& points) {
    Loop loop;
    // Branches: runs of frames whose values go one way; a turning frame ends one and starts the next.
    size_t start = 0;
    while (start + 1 < points.size()) {
        size_t end = start + 1;
        while (end < points.size() && points[end].value == points[start].value)
            ++end;
        if (end >= points.size()) break;
        const bool up = points[end].value > points[start].value;
        while (end + 1 < points.size() &&
               (up ? points[end + 1].value >= points[end].value : points[end + 1].value <= points[end].value))
            ++end;
        LoopBranch b;
        b.up = up, b.first = static_cast<int>(start) + 1, b.last = static_cast<int>(end) + 1;
        std::vector<int> used;
        for (size_t k = start; k <= end; ++k)
            if (usable(points[k])) used.push_back(static_cast<int>(k));
        if (used.size() < 2)
            b.note = QStringLiteral("fewer than two reliable frames on this branch");
        else
            findCrossings(b, points, used);
        loop.branches.push_back(b);
        start = end;
    }
    // The loop: the first branch up and the first down that cross zero.
    const LoopBranch *up = nullptr, *down = nullptr;
    for (const LoopBranch& b : loop.branches) {
        if (!b.coercive) continue;
        if (b.up && !up) up = &b;
        if (!b.up && !down) down = &b;
    }
    if (points.size() < 2)
        loop.note = QStringLiteral("a loop needs two frames or more");
    else if (!up || !down)
        loop.note = QStringLiteral("no branch up and no branch down that both cross zero: no coercivity");
    if (up && down) {
        loop.coercivity = (*up->coercive - *down->coercive) / 2;
        loop.exchangeBias = (*up->coercive + *down->coercive) / 2;
        loop.coercivitySe = loop.exchangeBiasSe = std::hypot(*up->coerciveSe, *down->coerciveSe) / 2;
        loop.loopSys = std::hypot(up->coerciveSys.value_or(0), down->coerciveSys.value_or(0)) / 2;
    }
    return loop;
}

QString loopJson(const Loop& loop, const QString& unit, const QByteArray& provenance) {
    QStringList branches;
    for (const LoopBranch& b : loop.branches)
        branches << QStringLiteral(
                        "{\"direction\":\"%1\",\"from\":%2,\"to\":%3,\"coercive\":%4,\"coercive_se\":%5,"
                        "\"remanence\":%6,\"remanence_se\":%7,\"saturation\":%8,"
                        "\"black_width_px_at_coercive\":%9,\"white_width_px_at_coercive\":%10,"
                        "\"period_px_at_coercive\":%11,\"note\":%12,\"coercive_sys\":%13}")
                        .arg(b.up ? QStringLiteral("up") : QStringLiteral("down"))
                        .arg(b.first)
                        .arg(b.last)
                        .arg(num(b.coercive), num(b.coerciveSe), num(b.remanence), num(b.remanenceSe),
                             num(b.saturation), num(b.blackWidth), num(b.whiteWidth), num(b.period),
                             b.note.isEmpty() ? QStringLiteral("null") : quotedJson(b.note),
                             num(b.coerciveSys));
    return QStringLiteral("{\"unit\":%1,\"branches\":[%2],\"coercivity\":%3,\"coercivity_se\":%4,"
                          "\"exchange_bias\":%5,\"exchange_bias_se\":%6,\"coercivity_sys\":%7,"
                          "\"exchange_bias_sys\":%7,\"note\":%8%9}\n")
        .arg(quotedJson(unit), branches.join(QLatin1Char(',')), num(loop.coercivity), num(loop.coercivitySe),
             num(loop.exchangeBias), num(loop.exchangeBiasSe), num(loop.loopSys))
        .arg(loop.note.isEmpty() ? QStringLiteral("null") : quotedJson(loop.note),
             provenance.isEmpty() ? QString()
                                  : QStringLiteral(",\"provenance\":") + QString::fromUtf8(provenance));
}

QString loopComments(const Loop& loop, const QString& unit) {
    QString out;
    const QString u = unit.isEmpty() ? QString() : QLatin1Char(' ') + unit;
    auto pm = [&](const std::optional<double>& v, const std::optional<double>& se) {
        return v ? QStringLiteral("%1 ± %2%3").arg(*v, 0, 'g', 6).arg(se.value_or(0), 0, 'g', 2).arg(u)
                 : QStringLiteral("none");
    };
    for (const LoopBranch& b : loop.branches)
        out += QStringLiteral("# branch %1 (frames %2-%3): coercive field %4, remanence %5%6\n")
                   .arg(b.up ? QStringLiteral("up") : QStringLiteral("down"))
                   .arg(b.first)
                   .arg(b.last)
                   .arg(pm(b.coercive, b.coerciveSe))
                   .arg(b.remanence ? QStringLiteral("%1 ± %2")
                                          .arg(*b.remanence, 0, 'f', 4)
                                          .arg(b.remanenceSe.value_or(0), 0, 'g', 2)
                                    : QStringLiteral("none"))
                   .arg(b.note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(b.note));
    if (loop.coercivity)
        out += QStringLiteral("# loop: coercivity %1, exchange bias %2\n")
                   .arg(pm(loop.coercivity, loop.coercivitySe), pm(loop.exchangeBias, loop.exchangeBiasSe));
    return out;
}

} // namespace tovra
