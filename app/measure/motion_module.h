// The walls' motion in the program: the frames chosen as the series window chooses them (the same
// settings panel), each step's duration, where to align the frames and whether to fit the creep
// law; the motion measured off the interface thread; a step drawn on its frames, the plot, the
// switching-field map, and the exports as the command line writes them.
#pragma once

#include "core/canvas.h"
#include "core/state_object.h"
#include "motion.h"
#include "series_module.h"

#include <QImage>
#include <QString>
#include <optional>
#include <thread>

namespace tovra {

class Module;

class MotionModule : public StateObject {
    Q_OBJECT
public:
    explicit MotionModule(Module& module);
    ~MotionModule() override;

    SeriesModule& series() { return series_; }
    const SeriesModule& series() const { return series_; }
    QString durations() const { return durations_; }
    QString alignRect() const { return alignRect_; }
    bool fitCreep() const { return fitCreep_; }
    void setDurations(const QString& v) { set(durations_, v); }
    void setAlignRect(const QString& v) { set(alignRect_, v); }
    void setFitCreep(bool v) { set(fitCreep_, v); }

    // Checks the settings and the frames (a message, and nothing starts, where they do not fit), then
    // measures the motion on a thread of its own. Returns at once.
    bool start();
    bool running() const { return worker_.joinable() && !done_; }
    // Blocks until the measurement has finished.
    void wait();
    const std::optional<measure::Motion>& motion() const { return motion_; }
    const std::optional<measure::CreepFit>& creepFixed() const { return fixed_; }
    QString status() const;

    // Step k (from 0) drawn: the later frame's walls and the earlier's, the pixels switched to black
    // and to white in two colours; the switching-field map in colour with its scale.
    QImage stepPicture(int k) const;
    QImage switchingPicture() const;

    bool exportTable(const QString& path, QString& why) const;
    bool exportPlot(const QString& path, QString& why) const;
    bool exportSummary(const QString& path, QString& why) const;
    bool exportSwitchingMap(const QString& path, QString& why) const;

signals:
    void finished();

private:
    void finish(measure::Motion m);
    QByteArray provenance() const;

    Module& module_;
    SeriesModule series_;
    QString durations_, alignRect_;
    bool fitCreep_ = true;
    std::thread worker_;
    bool done_ = true;
    std::vector<SeriesFrame> frames_;
    std::optional<measure::Motion> motion_;
    std::optional<measure::CreepFit> fixed_, free_;
    QString error_;
};

} // namespace tovra
