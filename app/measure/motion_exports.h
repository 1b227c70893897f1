// What a wall motion writes, the same from the command line and the window: the steps' table and
// the summary with its provenance.
#pragma once

#include "motion.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tovra {

// A row a step, after comment lines of the provenance and the value's name and unit.
QString motionTableCsv(const measure::Motion& m, const QString& valueName, const QString& valueUnit,
                       double pixelSizeUm, const QByteArray& provenance);
// The summary as one JSON object with the provenance first, and a line's end.
QByteArray motionSummary(const measure::Motion& m, const std::optional<measure::CreepFit>& fixed,
                         const std::optional<measure::CreepFit>& free, double pixelSizeUm,
                         const QByteArray& provenance);

} // namespace tovra
