#include "canvas.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovra {

Canvas::Canvas(int width, int height)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32) {
    image_.fill(background_);
}

void Canvas::resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == image_.width() && height == image_.height()) return;
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(background_);
    if (!image_.isNull() && width > 0 && height > 0) {
        QPainter p(&next);
        p.drawImage(0, 0, image_);
    }
    image_ = std::move(next);
    changed();
}

void Canvas::setPixelScale() {
    pixelScale_ = true;
}

bool Canvas::setScaleWidth(double w) {
    if (!(w != 0) || !std::isfinite(w)) return false;
    if (pixelScale_) scaleHeight_ = image_.height();
    pixelScale_ = false;
    scaleWidth_ = w;
    return true;
}

bool Canvas::setScaleHeight(double h) {
    if (!(h != 0) || !std::isfinite(h)) return false;
    if (pixelScale_) scaleWidth_ = image_.width();
    pixelScale_ = false;
    scaleHeight_ = h;
    return true;
}

double Canvas::scaleWidth() const {
    return pixelScale_ ? image_.width() : scaleWidth_;
}
double Canvas::scaleHeight() const {
    return pixelScale_ ? image_.height() : scaleHeight_;
}

QPointF Canvas::toPixels(double x, double y) const {
    if (pixelScale_) return {x, y};
    return {x * image_.width() / scaleWidth_, y * image_.height() / scaleHeight_};
}

QPointF Canvas::fromPixels(double px, double py) const {
    if (pixelScale_) return {px, py};
    return {px * scaleWidth_ / std::max(image_.width(), 1), py * scaleHeight_ / std::max(image_.height(), 1)};
}

void Canvas::point(double x, double y, QColor c) {
    const QPointF p = toPixels(x, y);
    if (!(p.x() >= 0 && p.y() >= 0 && p.x() < image_.width() && p.y() < image_.height())) return;
    image_.setPixel(static_cast<int>(p.x()), static_cast<int>(p.y()), c.rgb());
    changed();
}

void Canvas::line(double x1, double y1, double x2, double y2, QColor c) {
    if (image_.isNull()) return;
    const QPointF a = toPixels(x1, y1), b = toPixels(x2, y2);
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    QPainter p(&image_);
    p.setPen(QPen(c, lineWidth_));
    p.drawLine(a, b);
    p.end();
    changed();
}

void Canvas::box(double x1, double y1, double x2, double y2, QColor c) {
    line(x1, y1, x2, y1, c);
    line(x2, y1, x2, y2, c);
    line(x2, y2, x1, y2, c);
    line(x1, y2, x1, y1, c);
}

void Canvas::fillBox(double x1, double y1, double x2, double y2, QColor c) {
    if (image_.isNull()) return;
    const QPointF a = toPixels(x1, y1), b = toPixels(x2, y2);
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    QPainter p(&image_);
    p.fillRect(QRectF(a, b).normalized(), c);
    p.end();
    changed();
}

void Canvas::text(double x, double y, const QString& words, QColor c, int pixels) {
    if (image_.isNull()) return;
    const QPointF a = toPixels(x, y);
    if (!std::isfinite(a.x()) || !std::isfinite(a.y())) return;
    QPainter p(&image_);
    QFont font = p.font();
    font.setPixelSize(std::max(pixels, 1));
    p.setFont(font);
    p.setPen(c);
    p.drawText(QRectF(a, QSizeF(image_.width(), image_.height())), Qt::AlignLeft | Qt::AlignTop, words);
    p.end();
    changed();
}

int64_t Canvas::pointColor(double x, double y) const {
    const QPointF p = toPixels(x, y);
    if (!(p.x() >= 0 && p.y() >= 0 && p.x() < image_.width() && p.y() < image_.height())) return -1;
    const QRgb c = image_.pixel(static_cast<int>(p.x()), static_cast<int>(p.y()));
    return static_cast<int64_t>(qRed(c)) | (static_cast<int64_t>(qGreen(c)) << 8) |
           (static_cast<int64_t>(qBlue(c)) << 16);
}

void Canvas::clear() {
    image_.fill(background_);
    changed();
}

void Canvas::drawGrey(const double* values, int w, int h) {
    const int cols = std::min(w, image_.width());
    const int rows = std::min(h, image_.height());
    for (int y = 0; y < rows; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        const double* src = values + static_cast<int64_t>(y) * w;
        int x = 0;
#if defined(__SSE2__)
        // Clamped to 0..255 (not-a-number to 0), then rounded by the processor's default rounding:
        // to the nearest whole number, halves to even.
        const __m128d lo = _mm_setzero_pd(), hi = _mm_set1_pd(255.0);
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        for (; x + 4 <= cols; x += 4) {
            const __m128i a = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(_mm_loadu_pd(src + x), lo), hi));
            const __m128i b = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(_mm_loadu_pd(src + x + 2), lo), hi));
            const __m128i v = _mm_unpacklo_epi64(a, b);
            const __m128i grey = _mm_or_si128(_mm_or_si128(v, _mm_slli_epi32(v, 8)), _mm_slli_epi32(v, 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x), _mm_or_si128(grey, opaque));
        }
#endif
        for (; x < cols; ++x) {
            const double c = src[x] > 0 ? (src[x] < 255 ? src[x] : 255.0) : 0.0;
            const int v = static_cast<int>(std::nearbyint(c));
            line[x] = qRgb(v, v, v);
        }
    }
    changed();
}

void Canvas::plotGrey(const double* values, int w, int h) {
    if (image_.isNull() || w <= 0 || h <= 0) return;
    // Each value covers the pixels from its own scale position up to its neighbour's (at least
    // the one pixel point() would set), so an enlarged image shows no gaps between its pixels.
    auto spans = [](int n, int limit, auto position) {
        std::vector<std::pair<int, int>> span(static_cast<size_t>(n), {-1, -1});
        for (int i = 0; i < n; ++i) {
            const double a = position(i), b = position(i + 1);
            if (!(a >= 0 && a < limit)) continue;
            const int first = static_cast<int>(a);
            const int end =
                b > a && b < limit ? std::max(first + 1, static_cast<int>(std::ceil(b))) : first + 1;
            span[i] = {first, std::min(end, limit)};
        }
        return span;
    };
    const auto columns = spans(w, image_.width(), [&](int x) { return toPixels(x, 0).x(); });
    const auto rows = spans(h, image_.height(), [&](int y) { return toPixels(0, y).y(); });
    for (int y = 0; y < h; ++y) {
        if (rows[y].first < 0) continue;
        const double* src = values + static_cast<int64_t>(y) * w;
        for (int py = rows[y].first; py < rows[y].second; ++py) {
            QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(py));
            for (int x = 0; x < w; ++x) {
                const double v = std::nearbyint(src[x]);
                if (columns[x].first < 0 || !(v >= 0 && v <= 255)) continue;
                for (int px = columns[x].first; px < columns[x].second; ++px)
                    line[px] = qRgb(int(v), int(v), int(v));
            }
        }
    }
    changed();
}

void Canvas::plotPoints(const std::vector<QPointF>& points, QColor c) {
    const QRgb rgb = c.rgb();
    const int before = (lineWidth_ - 1) / 2, after = lineWidth_ / 2;
    for (const QPointF& s : points) {
        const QPointF p = toPixels(s.x(), s.y());
        if (!(p.x() > -lineWidth_ && p.y() > -lineWidth_ && p.x() < image_.width() + lineWidth_ &&
              p.y() < image_.height() + lineWidth_))
            continue;
        const int px = static_cast<int>(std::floor(p.x())), py = static_cast<int>(std::floor(p.y()));
        for (int y = std::max(py - before, 0); y <= std::min(py + after, image_.height() - 1); ++y)
            for (int x = std::max(px - before, 0); x <= std::min(px + after, image_.width() - 1); ++x)
                image_.setPixel(x, y, rgb);
    }
    changed();
}

void Canvas::polyline(const std::vector<QPointF>& points, QColor c) {
    if (image_.isNull() || points.size() < 2) return;
    QPainter p(&image_);
    p.setPen(QPen(c, lineWidth_));
    for (size_t i = 1; i < points.size(); ++i) {
        const QPointF a = toPixels(points[i - 1].x(), points[i - 1].y());
        const QPointF b = toPixels(points[i].x(), points[i].y());
        if (std::isfinite(a.x()) && std::isfinite(a.y()) && std::isfinite(b.x()) && std::isfinite(b.y()))
            p.drawLine(a, b);
    }
    p.end();
    changed();
}

void Canvas::drawImage(const QImage& picture) {
    if (image_.isNull()) return;
    QPainter p(&image_);
    p.drawImage(0, 0, picture);
    p.end();
    changed();
}

void Canvas::keepSnapshot() {
    snapshot_ = image_.copy();
}

void Canvas::restoreSnapshot() {
    if (snapshot_.isNull()) return;
    image_ = snapshot_.copy();
    changed();
}

} // namespace tovra
