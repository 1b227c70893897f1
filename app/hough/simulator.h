// The Hough simulator: the current image beside its Hough space. A click on an image point draws
// that point's curve in the Hough space, a click in the Hough space draws its line over the image,
// and the automatic transform votes every non-white pixel of the selected rectangle of the
// displayed picture, draws every vote and the best line. It computes the transform itself, on
// what the picture shows, in a 1801 x 1801 table of 16-bit counters.
#pragma once

#include "core/canvas.h"
#include "core/module.h"

#include "core/state_object.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovra {

class HoughSimulator : public StateObject {
    Q_OBJECT
public:
    static constexpr int kCells = 1801; // angle and distance indexes 0..1800
    static constexpr double kPi = 3.14159265358979;

    explicit HoughSimulator(Module& module);

    Canvas& image() { return p1_; } // P1
    Canvas& hough() { return p2_; } // P2
    const QString& step() const { return text1_; }
    bool selecting() const { return ch_; }
    int colourIndex() const { return colour_; }

    // Text1: a number above 180 or below 0.1 is reset to "1"; other texts stay as typed.
    void setStep(const QString& text);
    // Ch: ticked, a drag selects the rectangle; cleared, a click traces the point.
    void setSelecting(bool on);

    // Command1: draws the current slot into P1 at the image's own scale.
    void acquireImage();
    void clearImage(); // Command2
    void clearHough(); // Command4: and the rho = 0 axis again
    void clearAll();   // Command5

    void imagePress(double x, double y);
    void imageMove(double x, double y);
    void imageRelease(double x, double y);
    void houghPress(double theta, double v);
    void houghMove(double theta, double v);

    struct Peak {
        int votes = 0;
        int angleIndex = 0;    // t
        int distanceIndex = 0; // r = rho + 750
        double phi = 0;        // the line's normal angle in radians
    };
    // Command3: votes the rectangle hfx1..hfy2 of P1, draws every vote into P2 and the best line
    // over P1. Nothing when the step is not a number from 0.1 to 180 (the user is told).
    std::optional<Peak> autoTransform();

private:
    // The step as a number from 0.1 to 180, or nothing (and a message) when it is not one.
    std::optional<double> usableStep();
    void advanceColour();
    // Plots y = (v - 750) / sin(phi) - x * cos(phi) / sin(phi) over P1 for x = 0..its scale width.
    void plotLine(double phi, double v, QColor c);
    void drawAxis();

    Module& module_;
    Canvas p1_, p2_;
    QString text1_ = QStringLiteral("1");
    bool ch_ = false;
    int16_t colour_ = 0;
    std::vector<int16_t> votes_; // the automatic transform's table, kept between runs
};

} // namespace tovra
