// A picture area: an image with a scale, on which the procedures draw. Image windows, histogram
// pictures and Hough pictures are views of canvases; nothing here needs a display.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <functional>
#include <vector>

namespace tovra {

class Canvas {
public:
    explicit Canvas(int width = 0, int height = 0);

    // Size in pixels. Resizing keeps what was drawn where it still fits; new area is background.
    void resize(int width, int height);
    int pixelWidth() const { return image_.width(); }
    int pixelHeight() const { return image_.height(); }

    // The scale: coordinates in pixels (the default), or user units spanning the picture from the
    // top-left corner. Setting a scale of 0 (or not a number) fails and keeps the old scale.
    void setPixelScale();
    bool setScaleWidth(double w);
    bool setScaleHeight(double h);
    double scaleWidth() const;
    double scaleHeight() const;
    bool pixelScale() const { return pixelScale_; }
    QPointF toPixels(double x, double y) const;
    QPointF fromPixels(double px, double py) const;

    void setLineWidth(int w) { lineWidth_ = w < 1 ? 1 : w; }
    int lineWidth() const { return lineWidth_; }

    // Drawing in scale coordinates; whatever falls outside the picture is clipped.
    void point(double x, double y, QColor c);
    void line(double x1, double y1, double x2, double y2, QColor c);
    void box(double x1, double y1, double x2, double y2, QColor c);
    void fillBox(double x1, double y1, double x2, double y2, QColor c);
    // Text with its top-left corner at a point, `pixels` high, in the application's font.
    void text(double x, double y, const QString& words, QColor c, int pixels = 10);
    // The colour at a point as 0x00BBGGRR, or -1 outside the picture.
    int64_t pointColor(double x, double y) const;
    // Makes the whole picture the background colour (white unless set).
    void clear();
    void setBackground(QColor c) { background_ = c; }

    // Grey levels: pixel (x, y) of the w x h grid takes grey round(values[y * w + x]), in one pass.
    void drawGrey(const double* values, int w, int h);

    // Points in one pass: each value of the w x h grid at its scale position in grey round(value)
    // (values outside 0..255 are not drawn), covering the pixels up to its neighbour's position
    // when the scale enlarges; or each of a list of scale positions in one colour, as point()
    // (a square dot the line width across when it is more than 1).
    void plotGrey(const double* values, int w, int h);
    void plotPoints(const std::vector<QPointF>& points, QColor c);
    // Joined segments through the points, as line() draws them.
    void polyline(const std::vector<QPointF>& points, QColor c);

    // Draws a picture with its top-left corner at the picture area's.
    void drawImage(const QImage& picture);

    void keepSnapshot();
    void restoreSnapshot();

    const QImage& image() const { return image_; }
    // Called after every change, so views can repaint.
    void setOnChange(std::function<void()> f) { onChange_ = std::move(f); }

private:
    void changed() {
        if (onChange_) onChange_();
    }

    QImage image_;
    QImage snapshot_;
    bool pixelScale_ = true;
    double scaleWidth_ = 0;
    double scaleHeight_ = 0;
    int lineWidth_ = 1;
    QColor background_{255, 255, 255};
    std::function<void()> onChange_;
};

} // namespace tovra
