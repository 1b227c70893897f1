// Wall motion between frames: the frames aligned, binarized as the measurement does, the areas
// switched each way between neighbours over the walls' length, with errors over the measurement's
// blocks; the creep law fitted to the velocities; each pixel's last switching field.
#include "motion.h"

#include "json_writer.h"
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace tovra::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One frame as the steps take it: its binarization over the area, its wall length (2 x black area
// over the black width, as the measurement gives it, blur taken out) and its walls' share in each
// block (cells between pixels of two colours), its narrower domains' width.
struct Binarized {
    std::vector<uint8_t> black;
    double wallLength = 0;
    std::vector<double> blockWalls;
    double narrower = 0;
    bool ok = false;
    bool patternless = false; // binarized, but the measurement finds no domain pattern in it
    double contrast = 0;      // the white domains' level less the black ones'
    std::string error;
};

// The blocks of the errors are the first frame's (three periods a side where it holds that many).
Binarized binarized(const Image& g, const Rect& area, const Settings& settings, detail::Blocks& blocks) {
    Binarized b;
    const Result r = measure(g, nullptr, area, settings);
    if (!r.error.empty()) {
        b.error = r.error;
        return b;
    }
    b.black = r.black;
    b.patternless = r.pattern == "none";
    if (r.whiteLevel && r.blackLevel) b.contrast = *r.whiteLevel - *r.blackLevel;
    const int w = area.x2 - area.x1, h = area.y2 - area.y1;
    if (blocks.column.empty()) blocks = detail::blocksOf(w, h, r.periodPx);
    if (b.black.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) {
        b.error = "the binarization is not the area's";
        return b;
    }
    const double blackArea = r.blackFraction * w * h;
    b.wallLength = r.blackWidthPx > 0 ? 2 * blackArea / r.blackWidthPx : 0;
    b.narrower = std::min(r.blackWidthPx, r.whiteWidthPx);
    b.blockWalls.assign(static_cast<size_t>(blocks.count()), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t here =
                b.black[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
            const int faces =
                (x + 1 < w &&
                 b.black[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x) + 1] !=
                     here) +
                (y + 1 < h &&
                 b.black[static_cast<size_t>(y + 1) * static_cast<size_t>(w) + static_cast<size_t>(x)] !=
                     here);
            if (faces)
                b.blockWalls[static_cast<size_t>(blocks.row[static_cast<size_t>(y)]) *
                                 static_cast<size_t>(blocks.across) +
                             static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] += faces;
        }
    b.ok = true;
    return b;
}

// The pixels switched from `before` to `after` in regions (4-connected) none of whose pixels
// touches, in `before`, a pixel of the colour they switched to: new domains, not moved walls.
double nucleatedPixels(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, int w, int h) {
    std::vector<int32_t> seen(before.size(), 0);
    std::vector<size_t> stack, region;
    double out = 0;
    for (size_t start = 0; start < before.size(); ++start) {
        if (before[start] == after[start] || seen[start]) continue;
        const uint8_t to = after[start];
        bool touches = false;
        region.clear(), stack.assign(1, start), seen[start] = 1;
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            region.push_back(i);
            const int x = static_cast<int>(i % static_cast<size_t>(w)),
                      y = static_cast<int>(i / static_cast<size_t>(w));
            const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
            for (int k = 0; k < 4; ++k) {
                if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
                const size_t j =
                    static_cast<size_t>(ny[k]) * static_cast<size_t>(w) + static_cast<size_t>(nx[k]);
                if (before[j] == to) touches = true;
                if (!seen[j] && before[j] != after[j] && after[j] == to) seen[j] = 1, stack.push_back(j);
            }
        }
        if (!touches) out += static_cast<double>(region.size());
    }
    return out;
}

double meanOf(const Image& g) {
    double sum = 0;
    size_t n = 0;
    for (float v : g.px)
        if (std::isfinite(v)) sum += v, ++n;
    return n > 0 ? sum / static_cast<double>(n) : kNaN;
}

void warn(MotionStep& s, const std::string& code, const std::string& message) {
    s.warnings.push_back({code, message, true});
}

} // namespace

Motion measureMotion(size_t count, const FrameSource& frames, const std::vector<double>& values,
                     const std::vector<double>& durations, const Image* background,
                     const MotionSettings& settings) {
    Motion m;
    if (count < 2) {
        m.error = "a motion needs two frames at least";
        return m;
    }
    if (values.size() != count) {
        m.error = "one value a frame";
        return m;
    }
    if (!durations.empty() && durations.size() != count - 1) {
        m.error =
            "one duration a step: " + std::to_string(count - 1) + " for " + std::to_string(count) + " frames";
        return m;
    }
    for (double d : durations)
        if (!(d > 0) || !std::isfinite(d)) {
            m.error = "every duration must be a number of seconds above 0";
            return m;
        }
    m.shifts.resize(count);
    m.frameErrors.assign(count, {});
    // The frames less the background, aligned to the first.
    auto read = [&](size_t k) -> std::optional<Image> {
        std::string why;
        std::optional<Image> g = frames(k, why);
        if (!g) {
            m.frameErrors[k] = why.empty() ? "cannot be read" : why;
            return std::nullopt;
        }
        if (k > 0 && (g->width != m.width || g->height != m.height)) {
            m.frameErrors[k] = "a frame of another size";
            return std::nullopt;
        }
        if (background) {
            if (background->width != g->width || background->height != g->height) {
                m.frameErrors[k] = "the background is of another size";
                return std::nullopt;
            }
            for (size_t i = 0; i < g->px.size(); ++i)
                g->px[i] -= background->px[i];
        }
        return g;
    };
    std::optional<Image> first = read(0);
    if (!first) {
        m.error = "the first frame: " + m.frameErrors[0];
        return m;
    }
    m.width = first->width, m.height = first->height;
    std::vector<double> means(count, kNaN);
    means[0] = meanOf(*first);
    const Aligner aligner(*first, settings.alignOn ? settings.alignOn : settings.rect);
    for (size_t k = 1; k < count; ++k) {
        if (!m.frameErrors[k].empty()) continue;
        const std::optional<Image> g = read(k);
        if (!g) {
            if (m.frameErrors[k] == "a frame of another size") {
                m.error = "frame " + std::to_string(k + 1) +
                          " is of another size than the first: a motion needs one size";
                return m;
            }
            continue;
        }
        m.shifts[k] = aligner.shiftOf(*g);
        means[k] = meanOf(*g);
        // A weak peak places nothing: the frame is taken where it is (and its steps say so).
        if (m.shifts[k].ok && m.shifts[k].strength < kWeakPeak) m.shifts[k].dx = m.shifts[k].dy = 0;
        if (!m.shifts[k].ok) m.frameErrors[k] = "it cannot be aligned";
    }
    m.shifts[0] = Shift{0, 0, 0, true};
    // A drift beyond a third of the frame leaves too little of it in common: that frame is left out.
    const Rect whole = settings.rect.value_or(Rect{0, 0, m.width, m.height});
    Rect area{std::clamp(whole.x1, 0, m.width), std::clamp(whole.y1, 0, m.height),
              std::clamp(whole.x2, 0, m.width), std::clamp(whole.y2, 0, m.height)};
    for (size_t k = 1; k < count; ++k) {
        const Shift& s = m.shifts[k];
        if (!m.frameErrors[k].empty()) continue;
        if (std::abs(s.dx) > m.width / 3.0 || std::abs(s.dy) > m.height / 3.0) {
            m.frameErrors[k] = "its drift is beyond a third of the frame";
            continue;
        }
        area.x1 = std::max(area.x1, static_cast<int>(std::ceil(-s.dx)) + 2);
        area.y1 = std::max(area.y1, static_cast<int>(std::ceil(-s.dy)) + 2);
        area.x2 = std::min(area.x2, m.width - static_cast<int>(std::ceil(s.dx)) - 3);
        area.y2 = std::min(area.y2, m.height - static_cast<int>(std::ceil(s.dy)) - 3);
    }
    if (area.x2 - area.x1 < 16 || area.y2 - area.y1 < 16) {
        m.error = "the frames have too little in common once aligned";
        return m;
    }
    m.area = area;
    const int w = area.x2 - area.x1, h = area.y2 - area.y1;
    // Each frame binarized in the common area, in turn, and compared with the one before.
    std::optional<Binarized> previous;
    detail::Blocks blocks;
    m.switching.assign(static_cast<size_t>(m.width) * static_cast<size_t>(m.height),
                       std::numeric_limits<float>::quiet_NaN());
    for (size_t k = 0; k < count; ++k) {
        std::optional<Binarized> now;
        if (m.frameErrors[k].empty()) {
            std::optional<Image> g;
            if (k == 0)
                g.swap(first); // the first frame, kept from its alignment, and gone from there
            else
                g = read(k);
            if (g) {
                const Image aligned =
                    k == 0 ? std::move(*g) : shiftedBack(*g, m.shifts[k].dx, m.shifts[k].dy);
                Binarized b = binarized(aligned, area, settings.measure, blocks);
                // One colour (the measurement finds no domains), or one colour and noise (no pattern,
                // and its two colours' levels closer than half the span between the series' darkest
                // and brightest frames): all black or all white by its level against them.
                double lo = means[k], hi = means[k];
                for (double v : means)
                    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
                const bool noise = b.ok && b.patternless && b.contrast < (hi - lo) / 2;
                if (b.ok && b.patternless && !noise)
                    b.patternless = false; // a pattern without a spectral peak
                if ((!b.ok || noise) && std::isfinite(means[k]) && hi > lo) {
                    if (blocks.column.empty()) blocks = detail::blocksOf(w, h, 0);
                    b = Binarized{};
                    b.black.assign(static_cast<size_t>(w) * static_cast<size_t>(h), means[k] < (lo + hi) / 2);
                    b.blockWalls.assign(static_cast<size_t>(blocks.count()), 0);
                    b.ok = b.patternless = true;
                }
                if (!b.ok)
                    m.frameErrors[k] = b.error;
                else
                    now = std::move(b);
            }
        }
        if (k > 0) {
            MotionStep s;
            s.from = static_cast<int>(k), s.to = static_cast<int>(k + 1), s.value = values[k];
            if (!durations.empty()) s.duration = durations[k - 1];
            s.driftX = m.shifts[k].dx, s.driftY = m.shifts[k].dy;
            if (m.shifts[k].ok && m.shifts[k].strength < kWeakPeak && m.frameErrors[k].empty())
                warn(s, "drift_uncertain",
                     "the frame's correlation with the first has no clear peak: it is taken unaligned (align "
                     "on "
                     "a part that does not change, such as marks or the sample's edge)");
            if ((previous && previous->patternless) || (now && now->patternless))
                warn(s, "no_pattern",
                     "a frame of the step shows no domain pattern the measurement can tell from noise: it is "
                     "taken "
                     "as one colour, by its level");
            if (!previous || !now) {
                warn(s, "frame_not_measured",
                     "frame " + std::to_string(previous ? k + 1 : k) + ": " +
                         (previous ? m.frameErrors[k] : m.frameErrors[k - 1]));
            } else {
                const Binarized& a = *previous;
                const Binarized& b = *now;
                const int nb = blocks.count();
                std::vector<double> switched(static_cast<size_t>(nb), 0);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const size_t i =
                            static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                        if (a.black[i] == b.black[i]) continue;
                        (b.black[i] ? s.toBlack : s.toWhite) += 1;
                        switched[static_cast<size_t>(blocks.row[static_cast<size_t>(y)]) *
                                     static_cast<size_t>(blocks.across) +
                                 static_cast<size_t>(blocks.column[static_cast<size_t>(x)])] += 1;
                        m.switching[static_cast<size_t>(y + area.y1) * static_cast<size_t>(m.width) +
                                    static_cast<size_t>(x + area.x1)] = static_cast<float>(values[k]);
                    }
                s.nucleated = nucleatedPixels(a.black, b.black, w, h);
                // The nucleated pixels are counted apart: they moved no wall.
                const double moved = s.toWhite + s.toBlack - s.nucleated;
                if (s.toBlack >= s.toWhite)
                    s.toBlack -= s.nucleated;
                else
                    s.toWhite -= s.nucleated;
                if (a.wallLength > 0) {
                    s.wallLength = (a.wallLength + (b.wallLength > 0 ? b.wallLength : a.wallLength)) / 2;
                    s.displacement = moved / *s.wallLength;
                    // The jackknife over blocks: the switched pixels over the walls' cells (both frames'),
                    // each block left out in turn, brought to the displacement's scale.
                    const double allWalls = std::accumulate(a.blockWalls.begin(), a.blockWalls.end(), 0.0) +
                                            std::accumulate(b.blockWalls.begin(), b.blockWalls.end(), 0.0);
                    const double allSwitched = std::accumulate(switched.begin(), switched.end(), 0.0);
                    s.displacementSe =
                        detail::jackknife(
                            nb,
                            [&](int j) {
                                const double walls = allWalls - a.blockWalls[static_cast<size_t>(j)] -
                                                     b.blockWalls[static_cast<size_t>(j)];
                                return walls > 0 ? (allSwitched - switched[static_cast<size_t>(j)]) / walls
                                                 : 0.0;
                            }) *
                        allWalls / *s.wallLength * (allSwitched > 0 ? moved / allSwitched : 1);
                    if (s.duration) {
                        s.velocity = *s.displacement / *s.duration;
                        s.velocitySe = *s.displacementSe / *s.duration;
                    }
                    if (*s.displacement > a.narrower)
                        warn(s, "overlapping_steps",
                             "the walls moved further than the narrower domains are wide: walls of before "
                             "and after "
                             "no longer pair up, and the displacement is a lower bound");
                } else {
                    warn(s, "no_walls", "the frame before holds no walls: no displacement");
                }
            }
            s.reliable = std::none_of(s.warnings.begin(), s.warnings.end(),
                                      [](const Warning& x) { return x.serious; });
            m.steps.push_back(std::move(s));
        }
        if (settings.keepMasks) m.masks.push_back(now ? now->black : std::vector<uint8_t>{});
        if (now)
            previous = std::move(now);
        else if (k > 0)
            previous.reset();
    }
    return m;
}

CreepFit fitCreep(const std::vector<double>& fields, const std::vector<double>& velocities,
                  const std::vector<double>& ses, bool freeMu) {
    CreepFit f;
    std::vector<double> h, y, wgt;
    for (size_t i = 0; i < fields.size() && i < velocities.size() && i < ses.size(); ++i) {
        const double v = velocities[i], se = ses[i];
        if (!(fields[i] > 0) || !(v > 0) || !(se > 0) || !std::isfinite(fields[i]) || !std::isfinite(v) ||
            !std::isfinite(se))
            continue;
        h.push_back(fields[i]), y.push_back(std::log(v));
        const double sl = se / v; // the error of ln v
        wgt.push_back(1 / (sl * sl));
        f.values.push_back(fields[i]);
    }
    const size_t n = h.size();
    if (n < 3 || (freeMu && n < 4)) {
        f.error = std::string("the creep fit needs ") + (freeMu ? "four" : "three") +
                  " fields at least with a velocity and its error above 0";
        return f;
    }
    // For a given mu, ln v = a - b x with x = H^-mu: weighted least squares in closed form.
    struct Line {
        double a = 0, b = 0, chi2 = 0, saa = 0, sbb = 0, sab = 0;
    };
    auto line = [&](double mu) {
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (size_t i = 0; i < n; ++i) {
            const double x = std::pow(h[i], -mu);
            sw += wgt[i], sx += wgt[i] * x, sy += wgt[i] * y[i], sxx += wgt[i] * x * x,
                sxy += wgt[i] * x * y[i];
        }
        Line l;
        const double det = sw * sxx - sx * sx;
        if (!(det > 0)) return l;
        const double slope = (sw * sxy - sx * sy) / det;
        l.a = (sy - slope * sx) / sw, l.b = -slope;
        for (size_t i = 0; i < n; ++i) {
            const double r = y[i] - (l.a - l.b * std::pow(h[i], -mu));
            l.chi2 += wgt[i] * r * r;
        }
        l.saa = sxx / det, l.sbb = sw / det, l.sab = -sx / det;
        return l;
    };
    double mu = 0.25;
    if (freeMu) {
        // The chi-squared's least over mu in (0.01, 3): golden sections over the log of mu.
        double lo = std::log(0.01), hi = std::log(3.0);
        const double g = (std::sqrt(5.0) - 1) / 2;
        double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
        double fc = line(std::exp(c)).chi2, fd = line(std::exp(d)).chi2;
        for (int i = 0; i < 80; ++i) {
            if (fc < fd)
                hi = d, d = c, fd = fc, c = hi - g * (hi - lo), fc = line(std::exp(c)).chi2;
            else
                lo = c, c = d, fc = fd, d = lo + g * (hi - lo), fd = line(std::exp(d)).chi2;
        }
        mu = std::exp((lo + hi) / 2);
    }
    const Line l = line(mu);
    const auto dof = static_cast<double>(n) - (freeMu ? 3 : 2);
    f.a = l.a, f.b = l.b, f.mu = mu, f.chi2Dof = dof > 0 ? l.chi2 / dof : 0;
    if (!freeMu) {
        f.aSe = std::sqrt(l.saa), f.bSe = std::sqrt(l.sbb);
    } else {
        // The three parameters' covariance from the model's derivatives at the least: (J^T W J)^-1.
        double m[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
        for (size_t i = 0; i < n; ++i) {
            const double x = std::pow(h[i], -mu);
            const double j[3] = {1, -x, l.b * x * std::log(h[i])};
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    m[r][c] += wgt[i] * j[r] * j[c];
        }
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        if (!(std::abs(det) > 0)) {
            f.error = "the fields do not tell mu from a and b";
            return f;
        }
        f.aSe = std::sqrt(std::abs((m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det));
        f.bSe = std::sqrt(std::abs((m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det));
        f.muSe = std::sqrt(std::abs((m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det));
    }
    f.ok = std::isfinite(f.a) && std::isfinite(f.b) && std::isfinite(f.aSe) && std::isfinite(f.bSe);
    if (!f.ok) f.error = "the fit gives no finite numbers";
    return f;
}

CreepFit fitCreep(const Motion& m, bool freeMu) {
    std::vector<double> h, v, se;
    for (const MotionStep& s : m.steps)
        if (s.reliable && s.velocity && s.velocitySe)
            h.push_back(s.value), v.push_back(*s.velocity), se.push_back(*s.velocitySe);
    return fitCreep(h, v, se, freeMu);
}

Distribution distributionOf(const std::vector<float>& values) {
    Distribution d;
    std::vector<double> v;
    for (float x : values)
        if (std::isfinite(x)) v.push_back(x);
    d.count = v.size();
    if (v.empty()) return d;
    std::sort(v.begin(), v.end());
    d.mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    double s = 0;
    for (double x : v)
        s += (x - d.mean) * (x - d.mean);
    d.sd = v.size() > 1 ? std::sqrt(s / static_cast<double>(v.size() - 1)) : 0;
    auto quantile = [&](double q) {
        const double at = q * static_cast<double>(v.size() - 1);
        const auto i = static_cast<size_t>(at);
        return i + 1 < v.size() ? v[i] + (at - static_cast<double>(i)) * (v[i + 1] - v[i]) : v.back();
    };
    d.q1 = quantile(0.25), d.median = quantile(0.5), d.q3 = quantile(0.75);
    return d;
}

std::string motionStepJson(const MotionStep& s, double pixelSizeUm) {
    using json::Object;
    Object o;
    auto maybe = [&](const char* key, const std::optional<double>& v, double scale = 1) {
        v ? o.num(key, *v * scale) : o.raw(key, "null");
    };
    o.whole("from", s.from).whole("to", s.to).num("value", s.value);
    maybe("duration_s", s.duration);
    o.num("to_white_px", s.toWhite).num("to_black_px", s.toBlack).num("nucleated_px", s.nucleated);
    maybe("wall_length_px", s.wallLength);
    maybe("displacement_px", s.displacement);
    maybe("displacement_se_px", s.displacementSe);
    maybe("velocity_px_per_s", s.velocity);
    maybe("velocity_se_px_per_s", s.velocitySe);
    const bool um = pixelSizeUm > 0 && std::isfinite(pixelSizeUm);
    if (um) {
        maybe("displacement_um", s.displacement, pixelSizeUm);
        maybe("displacement_se_um", s.displacementSe, pixelSizeUm);
        maybe("velocity_m_per_s", s.velocity, pixelSizeUm * 1e-6);
        maybe("velocity_se_m_per_s", s.velocitySe, pixelSizeUm * 1e-6);
    }
    o.num("drift_x_px", s.driftX).num("drift_y_px", s.driftY).truth("reliable", s.reliable);
    o.raw("warnings", json::array(s.warnings, [](const Warning& w) {
              return Object().text("code", w.code).text("message", w.message).truth("serious", w.serious);
          }));
    return o.str();
}

std::string motionSummaryJson(const Motion& m, const std::optional<CreepFit>& fixed,
                              const std::optional<CreepFit>& free, double pixelSizeUm) {
    using json::Object;
    Object o;
    if (!m.error.empty()) return o.text("error", m.error).str();
    auto fit = [](const CreepFit& f, bool withMu) {
        Object c;
        if (!f.ok) return c.text("error", f.error);
        c.num("a", f.a).num("a_se", f.aSe).num("b", f.b).num("b_se", f.bSe);
        if (withMu) c.num("mu", f.mu).num("mu_se", f.muSe);
        c.num("chi2_dof", f.chi2Dof);
        std::string values = "[";
        for (double v : f.values) {
            if (values.size() > 1) values += ',';
            values += json::number(v);
        }
        return c.raw("values", values + "]");
    };
    o.whole("frames", static_cast<long long>(m.shifts.size()))
        .whole("steps", static_cast<long long>(m.steps.size()));
    o.raw("area", "[" + std::to_string(m.area.x1) + "," + std::to_string(m.area.y1) + "," +
                      std::to_string(m.area.x2) + "," + std::to_string(m.area.y2) + "]");
    if (fixed) o.raw("creep_fixed", fit(*fixed, false).str());
    if (free) o.raw("creep_free", fit(*free, true).str());
    const Distribution d = distributionOf(m.switching);
    Object sw;
    sw.whole("pixels", static_cast<long long>(d.count));
    if (d.count > 0)
        sw.num("mean", d.mean).num("sd", d.sd).num("q1", d.q1).num("median", d.median).num("q3", d.q3);
    o.raw("switching_fields", sw.str());
    if (pixelSizeUm > 0 && std::isfinite(pixelSizeUm)) o.num("pixel_size_um", pixelSizeUm);
    return o.str();
}

} // namespace tovra::measure
