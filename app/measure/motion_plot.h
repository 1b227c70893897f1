// The plot of a wall motion: each step's velocity (its displacement where no durations are given)
// against its field with its standard error, ln v against H^-1/4 with the creep law fitted (mu fixed
// at 1/4), and the switching fields' histogram. Drawn as the command line writes it (PNG, SVG, PDF).
#pragma once

#include "motion.h"

#include <QByteArray>
#include <QRectF>
#include <QString>
#include <optional>

class QPainter;

namespace tovra {

struct MotionPlotTexts {
    QString value, velocity, displacement, creep, histogram, pixels;
};
MotionPlotTexts motionPlotTexts(bool japanese, const QString& valueUnit);

void paintMotionPlot(QPainter& painter, const QRectF& area, const measure::Motion& m,
                     const std::optional<measure::CreepFit>& fit, const MotionPlotTexts& texts);
bool saveMotionPlot(const QString& path, const measure::Motion& m,
                    const std::optional<measure::CreepFit>& fit, const MotionPlotTexts& texts, QString& error,
                    const QByteArray& provenance = {});

} // namespace tovra
