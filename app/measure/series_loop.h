// A hysteresis loop's parameters from a series of frames: per branch (the values going up or
// down) the coercive field where the net magnetisation crosses zero, the remanence at value 0 and
// where saturation is reached, and over the loop the coercivity and the exchange bias, each with
// its standard error from those of the frames.
#pragma once

#include "series.h"

#include <QString>
#include <optional>
#include <vector>

namespace tovra {

struct LoopBranch {
    bool up = true;                             // the values increasing
    int first = 0, last = 0;                    // its frames, from 1, in series order
    std::optional<double> coercive, coerciveSe; // where the net magnetisation crosses 0
    // The straight line's own error there: how far a parabola through the next frame too moves it.
    std::optional<double> coerciveSys;
    std::optional<double> remanence, remanenceSe; // the net magnetisation at value 0
    std::optional<double> saturation;             // where |m| first reaches 0.95 past the crossing
    // The widths and the period at the coercive field, between its two frames.
    std::optional<double> blackWidth, whiteWidth, period;
    QString note; // why a number is missing
};

struct Loop {
    std::vector<LoopBranch> branches;
    std::optional<double> coercivity, coercivitySe, exchangeBias, exchangeBiasSe, loopSys;
    QString note; // why there is no loop: fewer than two frames, or no branch up and down crossing zero
};

// The loop of `points` (in series order): branches of at least two frames where the values run one
// way; only reliable frames are used, and a frame of one colour (saturated) with its m of +1 or -1.
Loop loopOf(const std::vector<SeriesPoint>& points);
// As JSON, the values in the unit named.
QString loopJson(const Loop& loop, const QString& unit, const QByteArray& provenance = {});
// As the table's comment lines, each starting "# ".
QString loopComments(const Loop& loop, const QString& unit);

} // namespace tovra
