// The plot of a tracking: the tracks drawn in the frames' plane (each its own colour, up to a
// chosen frame) beside their mean squared displacement against the lag, with its standard errors
// and the line 4 D t + 4 sigma^2 that D comes from. Drawn in the window and written as PNG, SVG or
// PDF from the command line.
#pragma once

#include "track.h"

#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <vector>

class QPainter;

namespace tovra {

struct TrackPlotData {
    int width = 0, height = 0; // of the frames
    const std::vector<std::vector<measure::TrackPoint>>* frames = nullptr;
    const measure::Tracks* tracks = nullptr;
    int upTo = -1;                 // the last frame whose steps are drawn (from 0); -1 for all
    const QImage* frame = nullptr; // drawn under the tracks where given (the frame's own size)
};

struct TrackPlotTexts {
    QString tracks, msd, lag, fit, perLag; // perLag: D's unit ("px²/s")
};
// The texts in English or Japanese, the lag in the values' unit (`lagUnit`, or frames where empty).
TrackPlotTexts trackPlotTexts(bool japanese, const QString& lagUnit);

void paintTrackPlot(QPainter& painter, const QRectF& area, const TrackPlotData& data,
                    const TrackPlotTexts& texts);
// Where a point of the frames' plane lies in the tracks' panel of a plot painted in `area`.
QPointF trackPlotPosition(const QRectF& area, const TrackPlotData& data, QPointF frameAt);
bool saveTrackPlot(const QString& path, const TrackPlotData& data, const TrackPlotTexts& texts,
                   QString& error, const QByteArray& provenance = {});

} // namespace tovra
