// The sixteen colours the Hough windows draw their lines and traces in.
#pragma once

#include <QColor>

namespace tovra {

// Colour `index` (0..15) of the standard console palette; black for any other index.
inline QColor paletteColour(int index) {
    static const QRgb colours[16] = {
        qRgb(0, 0, 0),       qRgb(0, 0, 128),   qRgb(0, 128, 0),   qRgb(0, 128, 128),
        qRgb(128, 0, 0),     qRgb(128, 0, 128), qRgb(128, 128, 0), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(0, 0, 255),   qRgb(0, 255, 0),   qRgb(0, 255, 255),
        qRgb(255, 0, 0),     qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255)};
    return index >= 0 && index < 16 ? QColor(colours[index]) : QColor(colours[0]);
}

} // namespace tovra
