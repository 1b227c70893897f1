// Bubbles followed in the program: a series of frames chosen and measured as the series window
// does (its own, on every core off the interface thread), then linked; the largest step and the
// memory as the command line takes them; the tracks, the summary and the plot exported as the
// command line writes them; a frame opened with its measurement and lattice defects drawn.
#pragma once

#include "core/state_object.h"
#include "series_module.h"
#include "track.h"
#include "track_plot.h"

#include <QString>
#include <optional>
#include <vector>

namespace tovra {

class TrackModule : public StateObject {
    Q_OBJECT
public:
    explicit TrackModule(Module& module);

    SeriesModule& series() { return series_; }
    const SeriesModule& series() const { return series_; }
    QString maxStep() const { return maxStep_; }
    QString memory() const { return memory_; }
    void setMaxStep(const QString& v) { set(maxStep_, v); }
    void setMemory(const QString& v) { set(memory_, v); }

    // Checks the step and the memory (a message, and nothing starts, where they are not numbers
    // the tracking takes), then measures the frames; they are linked when all are done.
    bool start(int jobs = 0);
    // The tracking of the frames done (nothing before), and why there is none.
    const std::optional<measure::Tracks>& tracks() const { return tracks_; }
    QString trackError() const { return error_; }
    // The frames' bubbles the tracks rest on, and the plot's view of them up to frame `upTo`.
    const std::vector<std::vector<measure::TrackPoint>>& bubbles() const { return bubbles_; }
    TrackPlotData plotData(int upTo) const;
    TrackPlotTexts plotTexts() const;
    // The summary as the window shows it: tracks, D with its error, the pinned share.
    QString summaryText() const;

    bool exportTracks(const QString& path, QString& why) const;
    bool exportSummary(const QString& path, QString& why) const;
    bool exportPlot(const QString& path, QString& why) const;

private:
    void link();
    std::vector<double> values() const;

    Module* module_ = nullptr;
    SeriesModule series_;
    QString maxStep_, memory_ = QStringLiteral("0");
    double step_ = 0;
    int memoryFrames_ = 0;
    std::optional<measure::Tracks> tracks_;
    std::vector<std::vector<measure::TrackPoint>> bubbles_;
    std::vector<SeriesPoint> points_;
    QString error_;
};

} // namespace tovra
