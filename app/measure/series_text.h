// Small helpers of the series' texts, shared by its frames, table and plot.
#pragma once

#include "series.h"

#include <QString>
#include <cmath>

namespace tovra::series_text {

// A message in the language asked for; both forms take the same arguments.
inline QString pick(Language language, const QString& english, const QString& japanese) {
    return language == Language::Japanese ? japanese : english;
}

// A number as the table writes it: ten significant digits, empty for one that is not finite.
inline QString number(double v) {
    return std::isfinite(v) ? QString::number(v, 'g', 10) : QString();
}

// A text on one line, for a comment line of the table or a label of the plot: a line break or
// another control character in a unit, a column's or a file's name becomes a space.
inline QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return text;
}

} // namespace tovra::series_text
