// Bubbles followed through a series of frames: linked from frame to frame by the assignment of
// least total squared step (globally over each group of bubbles that compete for the same
// partners, never given up however large the group), a bubble allowed to be missed for a few
// frames, the common drift taken out; their mean squared displacement, diffusion coefficient and
// the share of them that stay put.
//
// Plain functions without Qt: the program, the command line and other programs (through the C
// interface) all call these.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovra::measure {

// One bubble of one frame: its centre, the standard error of each coordinate (0: not known), its
// diameter, and whether its centre is its own: a bubble the border cuts, or one run together with
// another, is linked, but its centre (that of what is seen) jumps as the border uncovers it or as
// the two part: its steps count for neither the drift nor the MSD.
struct TrackPoint {
    double x = 0, y = 0, positionSe = 0, diameter = 0;
    bool inside = true;
};

struct TrackSettings {
    double maxStep = 0; // the furthest a bubble moves from one frame to the next (pixels); 0: half
                        // the median distance between nearest neighbours
    int memory = 0;     // frames a bubble may be missed and its track go on
};

// The mean squared displacement at one lag, drift taken out, with its standard error over tracks.
struct MsdPoint {
    int lag = 0;     // frames
    double time = 0; // the lag in the values' unit (the frames' value step times the lag)
    double msd = 0;  // px^2
    double se = 0;   // px^2
    long long pairs = 0;
    int tracks = 0; // that hold a pair at this lag
};

struct Tracks {
    std::string error; // why nothing could be linked; the rest is then empty
    double maxStep = 0;
    int memory = 0;
    // For every frame and each of its points, its track (from 0).
    std::vector<std::vector<int>> id;
    // Each frame's drift from the first (the mean step of the bubbles seen in both of two frames,
    // summed), pixels.
    std::vector<double> driftX, driftY;
    int tracks = 0;
    int started = 0; // tracks that begin after the first frame (nucleation, or a bubble come in)
    int ended = 0;   // that end before the last (annihilation, or a bubble gone out)
    long long links = 0, gapLinks = 0; // links made, and those across missed frames
    std::vector<MsdPoint> msd;
    // D from MSD = 4 D t + 4 sigma^2 over the first lags (sigma the positions' error), in px^2 per
    // value; its standard error over tracks (delete-a-group jackknife). Nothing, with `note`, where
    // the values are not evenly spaced or too few tracks hold pairs.
    std::optional<double> diffusion, diffusionSe;
    std::optional<double> localisationPx; // sigma from the fit's intercept (0 where it is below 0)
    int fitLags = 0;
    // Tracks of five frames at least whose scatter about their mean place is within their centres'
    // errors (a chi-squared test at 1 %): pinned. Nothing where the errors are not known.
    int judged = 0, pinned = 0;
    std::optional<double> pinnedFraction;
    std::string note;
};

// Links the frames' points. `values` (a field, a time) are one a frame or none (then the frame
// numbers from 1). An error where the settings are absurd (a step not above 0 or not finite, a
// memory below 0).
Tracks linkTracks(const std::vector<std::vector<TrackPoint>>& frames, const std::vector<double>& values,
                  const TrackSettings& settings);

// The tracks as CSV, a row a bubble and frame: track_id, frame (from 1), value, x_px, y_px,
// diameter_px (and the µm columns where `pixelSizeUm` is above 0), sorted by track and frame as
// napari's tracks layer reads them.
std::string tracksCsv(const std::vector<std::vector<TrackPoint>>& frames, const Tracks& t,
                      const std::vector<double>& values, double pixelSizeUm);

// The summary as one JSON object: the settings used, the counts, the drift by frame, the MSD, D,
// the pinned share (µm² where `pixelSizeUm` is above 0). `extra` (raw JSON fields, or empty) goes
// in after the counts.
std::string tracksSummaryJson(const Tracks& t, const std::vector<double>& values, double pixelSizeUm,
                              const std::string& extra = {});

} // namespace tovra::measure
