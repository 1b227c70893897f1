#include "simulator.h"

#include "core/busy_cursor.h"
#include "core/numeric.h"
#include "line_trace.h"
#include "palette.h"

#include <cmath>

namespace tovra {

namespace {

constexpr double kRhoOffset = 750;
constexpr int16_t kMaxCount = 32767;

} // namespace

HoughSimulator::HoughSimulator(Module& module) : module_(module), p1_(265, 265), p2_(393, 265) {
    p2_.setScaleWidth(180);
    p2_.setScaleHeight(1500);
    drawAxis();
}

void HoughSimulator::drawAxis() {
    p2_.line(0, kRhoOffset, 180, kRhoOffset, Qt::black);
}

void HoughSimulator::setStep(const QString& text) {
    text1_ = text;
    if (isNumeric(text)) {
        const double v = numericValue(text);
        if (v > 180 || v < 0.1) text1_ = QStringLiteral("1");
    }
    emit changed();
}

void HoughSimulator::setSelecting(bool on) {
    if (ch_ == on) return;
    ch_ = on;
    emit changed();
}

std::optional<double> HoughSimulator::usableStep() {
    if (isNumeric(text1_)) {
        const double s = numericValue(text1_);
        if (s >= 0.1 && s <= 180) return s;
    }
    module_.inform(
        QStringLiteral("π分割STEP は 0.1 から 180 までの数にしてください（今は「%1」）。").arg(text1_));
    return std::nullopt;
}

void HoughSimulator::advanceColour() {
    ++colour_;
    if (colour_ == 7) colour_ = 8; // light grey would not show on the pictures
    if (colour_ >= 15) colour_ = 0;
    emit changed();
}

void HoughSimulator::acquireImage() {
    const AppState& st = module_.state();
    p1_.setScaleWidth(numericValue(st.info().mx));
    p1_.setScaleHeight(numericValue(st.info().my));
    const int w = module_.currentWidth(), h = module_.currentHeight();
    const int id = module_.currentId();
    BusyCursor busy;
    if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > kBufferCapacity) return;
    PixelBuffer buf;
    buf.zero(static_cast<int64_t>(w) * h);
    if (module_.slotFitsBuffer(id)) module_.quarn().Toutim(id, buf.data());
    p1_.plotGrey(buf.data(), w, h);
}

void HoughSimulator::clearImage() {
    p1_.clear();
}

void HoughSimulator::clearHough() {
    p2_.clear();
    drawAxis();
}

void HoughSimulator::clearAll() {
    clearImage();
    clearHough();
}

void HoughSimulator::imagePress(double x, double y) {
    if (!ch_) {
        if (const auto s = usableStep()) {
            const QColor c = paletteColour(colour_);
            p1_.fillBox(x - 3, y - 3, x + 3, y + 3, c);
            BusyCursor busy;
            auto rho = [&](double theta) {
                const double a = theta * kPi / 180;
                return x * std::cos(a) + y * std::sin(a) + kRhoOffset;
            };
            std::vector<QPointF> curve;
            for (double theta = 0; theta <= 180; theta += *s) {
                if (curve.empty())
                    curve.emplace_back(theta - *s, rho(theta - *s)); // starts left of the picture
                curve.emplace_back(theta, rho(theta));
            }
            p2_.polyline(curve, c);
            advanceColour();
        }
    }
    module_.selectionStart(x, y);
}

void HoughSimulator::imageMove(double x, double y) {
    module_.selectionMove(x, y);
}

void HoughSimulator::imageRelease(double x, double y) {
    if (ch_) module_.selectionEnd(x, y);
}

void HoughSimulator::houghPress(double theta, double v) {
    if (!usableStep()) return;
    plotLine(theta * kPi / 180, v, paletteColour(colour_));
    advanceColour();
    AppState& st = module_.state();
    st.setHfx2(coordinateText(theta));
    st.setHfy2(coordinateText(v));
}

void HoughSimulator::houghMove(double theta, double v) {
    module_.state().setXy(coordinateText(theta) + QLatin1Char('-') + coordinateText(v - kRhoOffset));
}

void HoughSimulator::plotLine(double phi, double v, QColor c) {
    p1_.plotPoints(traceLine(p1_.scaleWidth(),
                             [&](double x) {
                                 return (v - kRhoOffset) / std::sin(phi) - std::cos(phi) / std::sin(phi) * x;
                             }),
                   c);
}

std::optional<HoughSimulator::Peak> HoughSimulator::autoTransform() {
    const auto s = usableStep();
    if (!s) return std::nullopt;
    BusyCursor busy;
    const InfoFields& f = module_.state().info();
    // Pixels outside the displayed picture read as white and never vote: the rectangle is clipped
    // to the picture first, so no coordinate, however far out, costs a thing.
    const int x1 = std::max<int>(int16Or(f.hfx1), 0), y1 = std::max<int>(int16Or(f.hfy1), 0);
    const int x2 = std::min<double>(int16Or(f.hfx2), std::floor(p1_.scaleWidth()));
    const int y2 = std::min<double>(int16Or(f.hfy2), std::floor(p1_.scaleHeight()));

    struct Angle {
        int t;
        double cos, sin;
    };
    std::vector<Angle> angles;
    for (double theta = 0; theta <= 180; theta += *s) {
        const double a = theta * kPi / 180;
        angles.push_back({static_cast<int>(std::nearbyint(theta / *s)), std::cos(a), std::sin(a)});
    }
    votes_.assign(static_cast<size_t>(kCells) * kCells, 0);
    const QImage& picture = p1_.image();
    for (int y = y1; y <= y2; ++y) {
        const int py = static_cast<int>(p1_.toPixels(0, y).y());
        if (py < 0 || py >= picture.height()) continue;
        const QRgb* row = reinterpret_cast<const QRgb*>(picture.constScanLine(py));
        for (int x = x1; x <= x2; ++x) {
            const int px = static_cast<int>(p1_.toPixels(x, 0).x());
            if (px < 0 || px >= picture.width() || qRed(row[px]) == 255) continue; // white does not vote
            for (const Angle& a : angles) {
                const double r = std::nearbyint(x * a.cos + y * a.sin + kRhoOffset);
                if (!(r >= 0 && r < kCells)) continue;
                int16_t& count = votes_[static_cast<size_t>(a.t) * kCells + static_cast<size_t>(r)];
                if (count < kMaxCount) ++count;
            }
        }
    }
    // Every vote is a point of the current colour in the Hough picture: each cell that took one.
    std::vector<QPointF> voted;
    for (int t = 0; t < kCells; ++t)
        for (int r = 0; r < kCells; ++r)
            if (votes_[static_cast<size_t>(t) * kCells + r] > 0) voted.emplace_back(*s * t, r);
    const QColor c = paletteColour(colour_);
    p2_.plotPoints(voted, c);

    Peak peak;
    peak.votes = votes_[0];
    const int lastAngle = static_cast<int>(std::nearbyint(180 / *s));
    for (int r = 1; r < kCells; ++r)
        for (int t = 1; t <= lastAngle && t < kCells; ++t) {
            const int count = votes_[static_cast<size_t>(t) * kCells + r];
            if (count > peak.votes) peak = {count, t, r, 0};
        }
    peak.phi = *s * peak.angleIndex * kPi / 180;
    if (peak.phi == 0) peak.phi = 0.001;
    plotLine(peak.phi, peak.distanceIndex, c);
    return peak;
}

} // namespace tovra
