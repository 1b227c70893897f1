// How the Hough windows trace a line across a picture: one point a column, x = 0, 1, ... up to
// the last column, y rounded to a 16-bit whole number (halves to even). A column whose y leaves
// 16 bits (a nearly vertical line far from the picture) gets no point: plotting the previous
// column's y again would draw a point that is not on the line.
#pragma once

#include <QPointF>
#include <cmath>
#include <optional>
#include <vector>

namespace tovra {

inline std::optional<int16_t> round16(double v) {
    const double r = std::nearbyint(v);
    if (!(r >= -32768.0 && r <= 32767.0)) return std::nullopt;
    return static_cast<int16_t>(r);
}

// Columns 0..lastColumn (at most 32767) of the line whose y at column x is y(x).
template <typename Y> std::vector<QPointF> traceLine(double lastColumn, Y y) {
    std::vector<QPointF> points;
    for (double x = 0; x <= lastColumn && x < 32768; x += 1)
        if (const auto r = round16(y(x))) points.emplace_back(x, *r);
    return points;
}

} // namespace tovra
