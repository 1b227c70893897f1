// Walls moving between frames of a Kerr series: every frame aligned to the first (sub-pixel phase
// correlation) and binarized as the measurement does; for each step from one frame to the next the
// area switched each way over the walls' length, the mean displacement of the walls with its error,
// and with the step's duration the velocity; the velocity against the field fitted by the creep
// law; the field at which each pixel last switched.
//
// Plain functions over pixel buffers, without Qt, for the command line, the program and Python.
#pragma once

#include "measure.h"

#include <complex>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovra::measure {

// How far a frame lies from a reference: moving(x + dx, y + dy) shows what reference(x, y) does.
// `strength` is the correlation coefficient of the two (each less its mean, tapered to its border)
// at that shift: 1 for frames alike but for the shift; below kWeakPeak the shift is not to be
// trusted (unrelated frames of a few thousand pixels reach 0.1 to 0.2 somewhere by chance).
struct Shift {
    double dx = 0, dy = 0;
    double strength = 0;
    bool ok = false;
};
constexpr double kWeakPeak = 0.3;

// The shift of `moving` from `reference` (pictures of one size) inside `rect` (the whole picture
// where not given), to a hundredth of a pixel. Not ok where the pictures are smaller than 8 x 8.
Shift registerFrames(const Image& reference, const Image& moving, std::optional<Rect> rect);
// The same for many frames against one reference, whose transform is made once.
class Aligner {
public:
    Aligner(const Image& reference, std::optional<Rect> rect);
    Shift shiftOf(const Image& moving) const;

private:
    int width_ = 0, height_ = 0;
    Rect rect_;
    std::vector<std::complex<double>> spectrum_;
    double energy_ = 0;
};
// The picture moved back by the shift: out(x, y) = g(x + dx, y + dy) by cubic convolution, the
// border's pixels repeated where the samples needed lie beyond the picture (what is measured after
// it lies two pixels inside what the shifted picture holds).
Image shiftedBack(const Image& g, double dx, double dy);

// One step of the walls, from frame `from` to frame `to` (from 1).
struct MotionStep {
    int from = 0, to = 0;
    double value = 0;                 // the later frame's: the field of the pulse
    std::optional<double> duration;   // seconds, where given
    double toWhite = 0, toBlack = 0;  // pixels switched each way, nucleation apart
    double nucleated = 0;             // pixels switched in domains that touched no wall before
    std::optional<double> wallLength; // px, before and after averaged
    std::optional<double> displacement, displacementSe; // px: switched area over wall length
    std::optional<double> velocity, velocitySe;         // px/s
    double driftX = 0, driftY = 0;                      // of the later frame from the first
    std::vector<Warning> warnings;
    bool reliable = false;
};

// The frames as the motion takes them: frame k (from 0) read on demand (each is read twice, once to
// align it and once to measure it), or nothing with `error` said.
using FrameSource = std::function<std::optional<Image>(size_t k, std::string& error)>;

struct MotionSettings {
    std::optional<Rect> rect;    // where the frames are measured; the whole frames where not
    std::optional<Rect> alignOn; // where they are aligned (a sample's edge, marks, dust); `rect` where not
    Settings measure;
    bool keepMasks = false; // keep each frame's binarization (a window draws the steps with them)
};

struct Motion {
    std::string error;                    // why nothing could be measured
    std::vector<Shift> shifts;            // each frame's from the first
    std::vector<std::string> frameErrors; // a frame that could not be read or measured: why
    std::vector<MotionStep> steps;
    Rect area;                 // measured in every frame: the rectangle less the drifts
    int width = 0, height = 0; // of the frames
    // Each pixel of the frames (width x height): the value of the frame in which it last switched, NaN
    // where it never switched or lies outside `area`.
    std::vector<float> switching;
    // Where asked for: each frame's binarization over `area` (1 black), empty for a frame not measured.
    std::vector<std::vector<uint8_t>> masks;
};

// The motion over `count` frames of one size; `values` one a frame, `durations` one a step or none.
// A background (a Kerr difference) is taken from every frame before it is aligned. A frame of one
// colour (saturated, or all one domain) is all black where its mean level lies below the middle of
// the series' darkest and brightest frames', else all white.
Motion measureMotion(size_t count, const FrameSource& frames, const std::vector<double>& values,
                     const std::vector<double>& durations, const Image* background,
                     const MotionSettings& settings);

// ln v = a - b H^-mu fitted to the steps' velocities (px/s) against their fields, weighed by the
// velocities' errors: with mu fixed at 1/4, or free. Fields and velocities above 0 only.
struct CreepFit {
    bool ok = false;
    std::string error;
    double a = 0, aSe = 0, b = 0, bSe = 0, mu = 0.25, muSe = 0, chi2Dof = 0;
    std::vector<double> values; // the fields used
};
CreepFit fitCreep(const std::vector<double>& fields, const std::vector<double>& velocities,
                  const std::vector<double>& ses, bool freeMu);
// The same over a motion's reliable steps with a velocity.
CreepFit fitCreep(const Motion& m, bool freeMu);

// The switching fields' distribution: their count, mean, standard deviation and quartiles.
struct Distribution {
    size_t count = 0;
    double mean = 0, sd = 0, q1 = 0, median = 0, q3 = 0;
};
Distribution distributionOf(const std::vector<float>& values);

// A step's record as one JSON object (µm and m/s too where `pixelSizeUm` is above 0).
std::string motionStepJson(const MotionStep& s, double pixelSizeUm);
// The summary: the fits (where asked for) and the switching fields' distribution.
std::string motionSummaryJson(const Motion& m, const std::optional<CreepFit>& fixed,
                              const std::optional<CreepFit>& free, double pixelSizeUm);

} // namespace tovra::measure
